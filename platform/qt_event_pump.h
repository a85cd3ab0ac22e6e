#pragma once

#include "modbus/event_pump.h"

#include <QTimer>

namespace meterlink {

// Runs pending events, then sleeps until the next one: serial data (the port's
// notifier), a click, a timer tick, or at the latest this pump's own short timer.
// Needs a QCoreApplication (or QApplication) on the calling thread.
class QtEventPump : public EventPump {
public:
    explicit QtEventPump(int maxWaitMilliseconds = 10);

    void yield() override;

private:
    QTimer wake_;
    int maxWait_;
};

} // namespace meterlink
