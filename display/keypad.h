#pragma once

#include <optional>
#include <vector>

namespace meterlink {

// The sixteen keypad buttons, Command1(0) to Command1(15), four to a row.
constexpr int kKeypadButtons = 16;

// The key character the meter expects for a keypad button; nothing for an index outside
// the keypad.
std::optional<char> keypadKey(int index);

// The keypad button a key of the PC keyboard stands for (a Qt::Key value): digits, "."
// and F1 (Help), Up and N, Down and L, M (Menu), Return, Enter and E, S and F (2nd).
// Nothing for any other key. Letters are Qt keys, so either case presses them.
std::optional<int> keypadButtonForKey(int qtKey);

// The PC keys that press keypad button `index`, the likeliest first; none outside the keypad.
std::vector<int> pcKeysForButton(int index);

} // namespace meterlink
