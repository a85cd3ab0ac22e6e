#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace meterlink {

struct Console;

// How long one try of a scan waits after its request was written: the meter's own
// turnaround (a tenth of a second) plus the time the request and the 21-byte answer take
// on the wire at that speed, so a slow line gets the longer wait it needs.
double scanWaitSeconds(qint32 baud);

// Tries the logger state read at each speed and slave ID, lists what answered (speed,
// slave ID, records used) on `out`, and how long the scan took. Returns 0 when a meter
// answered, 2 when none did or the port did not open. `stopped` ends it early with what
// it found so far.
int runScan(const QString& device, QList<qint32> bauds, QList<int> slaves, Console& console,
            const std::function<bool()>& stopped);

} // namespace meterlink
