#pragma once

namespace meterlink {

// Time of day as the link's waits see it: seconds since local midnight, with a fraction.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double secondsSinceMidnight() const = 0;
};

} // namespace meterlink
