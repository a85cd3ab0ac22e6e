#pragma once

#include <optional>

namespace meterlink {

// The sixteen keypad buttons, Command1(0) to Command1(15), four to a row.
constexpr int kKeypadButtons = 16;

// The key character the meter expects for a keypad button; nothing for an index outside
// the keypad.
std::optional<char> keypadKey(int index);

// The keypad button a key of the PC keyboard stands for (a Qt::Key value): digits, ".",
// Return and Enter, Up and Down. Nothing for any other key.
std::optional<int> keypadButtonForKey(int qtKey);

} // namespace meterlink
