#pragma once

#include <QString>

#include <functional>

struct pollfd;

namespace meterlink {

class MeterBus;

// Serves the meters on a pseudo-terminal's master side until `stopFd` (a stop-signal pipe)
// becomes readable. Sleeps in poll() between bytes and due writes. With a baud rate set,
// bytes that arrive while the far end has the line at another speed are lost, as they
// would be on a real line.
class PtyServer {
public:
    // Paced, the answers go out a byte at a time at the line's rate (see ReplySchedule).
    PtyServer(MeterBus& meters, int masterFd, int baud, bool paced = false)
        : meters_(meters), masterFd_(masterFd), baud_(baud), paced_(paced) {}

    // Runs before every piece of a request is handed to the meters.
    void setBeforeReceive(std::function<void()> hook) { beforeReceive_ = std::move(hook); }
    // Runs after the meters have taken a piece of a request.
    void setAfterReceive(std::function<void()> hook) { afterReceive_ = std::move(hook); }

    // Makes run() return, unplugged(), as the `pieces`-th piece of a request arrives, before
    // the meters hear it: the adapter is pulled out while the master waits for its answer.
    void setUnplugAt(int pieces) { unplugAt_ = pieces; }
    bool unplugged() const { return unplugged_; }

    // True after a stop request or an unplug; false with `error` set when the line failed.
    bool run(int stopFd, QString* error);

private:
    // poll() on the two descriptors for up to `seconds` (forever when negative).
    int waitFor(pollfd* fds, double seconds) const;

    MeterBus& meters_;
    int masterFd_;
    int baud_;
    bool paced_;
    std::function<void()> beforeReceive_;
    int unplugAt_ = 0;
    int pieces_ = 0;
    bool unplugged_ = false;
    std::function<void()> afterReceive_;
};

double monotonicSeconds();

} // namespace meterlink
