#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace meterlink {

struct Console;

// How long one try of a scan waits after its request was written: `turnaround` for the
// meter (and any gateway between) plus the time the request and the 21-byte answer take on
// the wire at that speed, so a slow line gets the longer wait it needs.
double scanWaitSeconds(qint32 baud, double turnaround);

struct ScanPlan {
    QList<qint32> bauds;   // empty: every speed the Settings tab offers
    QList<int> slaves;     // empty: 1 to 255
    int likelySlave = 1;   // the settings' slave ID, tried first with 1 and 247
    qint32 likelyBaud = 0; // the settings' speed, tried first
    bool first = false;    // stop at the first meter found
};

// Tries the logger state read at each speed and slave ID: first every speed at the likely
// IDs with a wait long enough for a slow meter or gateway, then the other IDs with a
// shorter wait, and a second, long look where something was heard. Lists what answered
// (speed, slave ID, records used, or the exception it answered with) on `out`, then which
// speeds and IDs were tried and how long it took. Returns 0 when a meter answered, 2 when
// none did or the port did not open. `stopped` ends it early with what it found so far.
int runScan(const QString& device, const ScanPlan& plan, Console& console,
            const std::function<bool()>& stopped);

} // namespace meterlink
