#pragma once

#include <QString>

namespace meterlink {

class SimulatedMeter;

// Serves the meter on a pseudo-terminal's master side until `stopFd` (a stop-signal pipe)
// becomes readable. Sleeps in poll() between bytes and due writes.
class PtyServer {
public:
    PtyServer(SimulatedMeter& meter, int masterFd, int baud)
        : meter_(meter), masterFd_(masterFd), baud_(baud) {}

    // True after a stop request; false with `error` set when the line failed.
    bool run(int stopFd, QString* error);

private:
    SimulatedMeter& meter_;
    int masterFd_;
    int baud_;
};

double monotonicSeconds();

} // namespace meterlink
