#pragma once

#include "modbus/clock.h"

#include <QtGlobal>

namespace meterlink {

// Local time of day, to the millisecond.
class SystemClock : public Clock {
public:
    double secondsSinceMidnight() const override;

private:
    // The link reads the clock for every byte. Asking for the local time each time makes
    // the C library look at the time-zone file each time, so the offset from UTC is kept
    // for a second (a change of summer time shows within that second).
    mutable qint64 offsetMs_ = 0;
    mutable qint64 offsetFrom_ = 0;
    mutable qint64 offsetUntil_ = 0;
};

} // namespace meterlink
