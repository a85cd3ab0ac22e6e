#include "display/keypad.h"

#include <Qt>

namespace meterlink {

namespace {

constexpr char kKeys[kKeypadButtons] = {'1', '2', '3', '.', '4', '5', '6', 'N',
                                        '7', '8', '9', 'L', 'M', '0', 'E', 'F'};

struct PcKey {
    int qtKey;
    int button;
};

// Besides the digits: the key a technician reaches for first, then the meter's own letter
// (the one `meterlink-cli key` takes), so the two agree.
constexpr PcKey kPcKeys[] = {
    {Qt::Key_Period, 3}, {Qt::Key_F1, 3}, {Qt::Key_Up, 7}, {Qt::Key_N, 7},
    {Qt::Key_Down, 11},  {Qt::Key_L, 11}, {Qt::Key_M, 12}, {Qt::Key_Return, 14},
    {Qt::Key_Enter, 14}, {Qt::Key_E, 14}, {Qt::Key_S, 15}, {Qt::Key_F, 15},
};

} // namespace

std::optional<char> keypadKey(int index) {
    if (index < 0 || index >= kKeypadButtons)
        return std::nullopt;
    return kKeys[index];
}

std::optional<int> keypadButtonForKey(int qtKey) {
    for (const PcKey& pc : kPcKeys) {
        if (pc.qtKey == qtKey)
            return pc.button;
    }
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        const char digit = char('0' + (qtKey - Qt::Key_0));
        for (int index = 0; index < kKeypadButtons; ++index) {
            if (kKeys[index] == digit)
                return index;
        }
    }
    return std::nullopt;
}

std::vector<int> pcKeysForButton(int index) {
    std::vector<int> keys;
    const std::optional<char> key = keypadKey(index);
    if (key && *key >= '0' && *key <= '9')
        keys.push_back(Qt::Key_0 + (*key - '0'));
    for (const PcKey& pc : kPcKeys) {
        if (pc.button == index)
            keys.push_back(pc.qtKey);
    }
    return keys;
}

} // namespace meterlink
