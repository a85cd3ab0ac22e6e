#pragma once

namespace meterlink {

// Time of day as the link's waits see it: seconds since local midnight, with a fraction.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double secondsSinceMidnight() const = 0;
};

// Seconds passed on a time-of-day clock, counted look by look, so that a deadline may lie
// past midnight: a step back of more than half a day is midnight and counts the day's
// seconds back in; a smaller step back (the clock set back) counts as no time.
class DayStopwatch {
public:
    explicit DayStopwatch(double startTimeOfDay) : last_(startTimeOfDay) {}

    // The seconds passed from the start to `timeOfDay`.
    double look(double timeOfDay) {
        double step = timeOfDay - last_;
        if (step < -43200.0)
            step += 86400.0;
        if (step > 0.0)
            passed_ += step;
        last_ = timeOfDay;
        return passed_;
    }

private:
    double last_;
    double passed_ = 0.0;
};

} // namespace meterlink
