#pragma once

#include "platform/stop_signal_hook.h"

#include <QObject>

#include <memory>

namespace meterlink {

// SIGINT and SIGTERM (Ctrl-C and closing the console on Windows) as events of the loop:
// the hook only records the request, the event loop turns it into stopRequestedNow(), so
// nothing of ours runs inside a handler and a wait of the link wakes at once.
class StopSignals : public QObject {
    Q_OBJECT

public:
    StopSignals();
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool isWatching() const { return hook_.isInstalled(); }
    // Also picks up a request that came while the event loop was not running.
    bool stopRequested();
    // The signal that asked to stop; 0 while none did.
    int signalNumber() const { return signal_; }

signals:
    void stopRequestedNow(int signalNumber);

private:
    void takePending();

    StopSignalHook hook_;
    int signal_ = 0;
    std::unique_ptr<QObject> notifier_;
};

} // namespace meterlink
