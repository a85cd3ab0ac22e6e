#pragma once

#include "modbus/clock.h"

namespace meterlink {

// Local time of day, to the millisecond.
class SystemClock : public Clock {
public:
    double secondsSinceMidnight() const override;
};

} // namespace meterlink
