#pragma once

#include "sim/meter_reply.h"

#include <QByteArray>
#include <vector>

namespace meterlink {

class SimulatedMeter;

// Several meters on one RS-485 line: every meter hears every byte and answers only what
// is addressed to it, so their replies never overlap.
class MeterBus {
public:
    void attach(SimulatedMeter& meter) { meters_.push_back(&meter); }
    const std::vector<SimulatedMeter*>& meters() const { return meters_; }

    std::vector<MeterReply> receive(const QByteArray& bytes, double now);

private:
    std::vector<SimulatedMeter*> meters_;
};

} // namespace meterlink
