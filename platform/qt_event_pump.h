#pragma once

#include "modbus/event_pump.h"

#include <QElapsedTimer>
#include <QTimer>

#include <functional>

namespace meterlink {

// Runs pending events, then sleeps until the next one: serial data (the port's
// notifier), a click, a timer tick, or at the latest this pump's own short timer.
// Needs a QCoreApplication (or QApplication) on the calling thread.
class QtEventPump : public EventPump {
public:
    explicit QtEventPump(int maxWaitMilliseconds = 10);

    void yield() override;
    void rest() override;

    // With a condition, a yield that finds nothing pending sleeps only while it holds (the
    // caller is polling for bytes); other yields just run what is pending and return, so
    // the steps around a transaction cost no timer tick. Without one every such yield sleeps.
    void setWaitCondition(std::function<bool()> condition) {
        waitCondition_ = std::move(condition);
    }

    // When it holds a yield returns at once: what the caller waits for is already here and
    // taking it comes first; the events run at the caller's next yield.
    void setSkipCondition(std::function<bool()> condition) {
        skipCondition_ = std::move(condition);
    }

    // How long a sleeping yield lasts instead of the short timer, in milliseconds, when
    // more than 0: the port holds its input that long and wakes nobody meanwhile.
    void setSleepAllowance(std::function<int()> milliseconds) {
        sleepAllowance_ = std::move(milliseconds);
    }

private:
    std::function<bool()> waitCondition_;
    std::function<int()> sleepAllowance_;
    std::function<bool()> skipCondition_;
    QElapsedTimer lastPass_;
    QTimer wake_;
    int maxWait_;
};

} // namespace meterlink
