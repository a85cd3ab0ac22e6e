#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace meterlink {

// SIGINT and SIGTERM as events: blocked for the process and read from a descriptor that
// the event loop watches, so nothing runs inside a signal handler and a wait of the link
// wakes at once. Block them with blockStopSignals() before any thread starts.
class StopSignals : public QObject {
    Q_OBJECT

public:
    StopSignals();
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    static bool blockStopSignals();

    bool isWatching() const { return fd_ >= 0; }
    // Also picks up a signal that came while the event loop was not running.
    bool stopRequested();
    // The signal that asked to stop; 0 while none did.
    int signalNumber() const { return signal_; }

signals:
    void stopRequestedNow(int signalNumber);

private:
    void readPending();

    int fd_ = -1;
    int signal_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace meterlink
