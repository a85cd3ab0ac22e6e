#pragma once

#include "modbus/clock.h"

#include <QtGlobal>
#include <cmath>

namespace meterlink {

// A clock that moves only when told. Time is kept in whole microseconds so that a
// million small steps add up exactly.
class FakeClock : public Clock {
public:
    explicit FakeClock(double timeOfDay = 0.0) { setTimeOfDay(timeOfDay); }

    double secondsSinceMidnight() const override { return double(dayMicros_) / 1e6; }

    // Sets the time of day only; elapsed() keeps counting from where it was.
    void setTimeOfDay(double seconds) {
        const qint64 micros = std::llround(seconds * 1e6);
        dayMicros_ = ((micros % kDayMicros) + kDayMicros) % kDayMicros;
    }

    void advance(double seconds) {
        const qint64 micros = std::llround(seconds * 1e6);
        if (micros <= 0) {
            return;
        }
        elapsedMicros_ += micros;
        dayMicros_ = (dayMicros_ + micros) % kDayMicros;
    }

    // Seconds since the clock was made; never wraps at midnight.
    double elapsed() const { return double(elapsedMicros_) / 1e6; }

private:
    static constexpr qint64 kDayMicros = 86400LL * 1000000LL;
    qint64 dayMicros_ = 0;
    qint64 elapsedMicros_ = 0;
};

} // namespace meterlink
