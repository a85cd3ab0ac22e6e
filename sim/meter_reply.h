#pragma once

#include <QByteArray>
#include <functional>
#include <vector>

namespace meterlink {

struct MeterReply {
    QByteArray bytes;          // empty: the meter stays silent
    double delaySeconds = 0.0; // extra wait before the first byte goes out
};

// Whatever answers the master: the simulated meter, or a test's script. Gets the bytes
// the master wrote and the monotonic time they went out.
using Responder = std::function<std::vector<MeterReply>(const QByteArray& written, double now)>;

} // namespace meterlink
