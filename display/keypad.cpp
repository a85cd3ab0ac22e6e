#include "display/keypad.h"

#include <Qt>

namespace meterlink {

namespace {

constexpr char kKeys[kKeypadButtons] = {'1', '2', '3', '.', '4', '5', '6', 'N',
                                        '7', '8', '9', 'L', 'M', '0', 'E', 'F'};

} // namespace

std::optional<char> keypadKey(int index) {
    if (index < 0 || index >= kKeypadButtons)
        return std::nullopt;
    return kKeys[index];
}

std::optional<int> keypadButtonForKey(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Period:
        return 3;
    case Qt::Key_Up:
        return 7;
    case Qt::Key_Down:
        return 11;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 14;
    default:
        break;
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

} // namespace meterlink
