#pragma once

namespace meterlink {

// Lets pending window events run while the link waits. The application's pump also
// blocks until the next event (serial data wakes it, a short timer bounds it) so that
// a wait never spins a core; the tests' pump advances a fake clock instead.
class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void yield() = 0;
    // The same for a caller that has nothing to look at until time passes (a device that
    // is to come back): the application's pump then sleeps until the next event or its
    // short timer, whatever its wait condition says.
    virtual void rest() { yield(); }
};

} // namespace meterlink
