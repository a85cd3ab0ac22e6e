#pragma once

#include "meter_reply.h"

namespace meterlink {

// The meter at the other end of the line: answers functions 3, 16 and 96.
class SimulatedMeter {
public:
    // Bytes arriving from the master at `now` (seconds on a monotonic scale). Returns the
    // replies to the requests these bytes complete, in order.
    std::vector<MeterReply> receive(const QByteArray& bytes, double now);
};

} // namespace meterlink
