#include "simulated_meter.h"

namespace meterlink {

std::vector<MeterReply> SimulatedMeter::receive(const QByteArray&, double) { return {}; }

} // namespace meterlink
