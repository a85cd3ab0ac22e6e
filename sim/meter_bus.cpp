#include "sim/meter_bus.h"

#include "sim/simulated_meter.h"

namespace meterlink {

std::vector<MeterReply> MeterBus::receive(const QByteArray& bytes, double now) {
    std::vector<MeterReply> replies;
    for (SimulatedMeter* meter : meters_) {
        std::vector<MeterReply> more = meter->receive(bytes, now);
        replies.insert(replies.end(), more.begin(), more.end());
    }
    return replies;
}

} // namespace meterlink
