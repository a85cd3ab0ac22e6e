#pragma once

#include <QString>

namespace meterlink {

// What the display tab's handlers change: the four display lines Text4(0..3) and the
// timer Timer1. The window implements it; tests record it.
class DisplayView {
public:
    virtual ~DisplayView() = default;
    // Line 0 (top) to 3, one character per display byte (code 157 is U+009D).
    virtual void setLine(int index, const QString& text) = 0;
    virtual void setTimerEnabled(bool enabled) = 0;
};

} // namespace meterlink
