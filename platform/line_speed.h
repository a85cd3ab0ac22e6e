#pragma once

#include <QString>

namespace meterlink {

// Sets both directions of the open terminal `fd` to `baud`, which need not be one of the
// classic rates. Returns why not, in the system's words; empty when the line runs at that
// rate now.
QString setLineSpeed(int fd, qint32 baud);

// Asks the driver to pass received bytes on at once: USB adapters otherwise hold the tail
// of every answer for their latency timer. Devices without the setting are left as they are.
void requestLowLatency(int fd);

} // namespace meterlink
