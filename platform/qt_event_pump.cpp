#include "platform/qt_event_pump.h"

#include <QCoreApplication>
#include <QThread>

namespace meterlink {

QtEventPump::QtEventPump(int maxWaitMilliseconds) : maxWait_(maxWaitMilliseconds) {
    wake_.setSingleShot(true);
    wake_.setInterval(maxWait_);
}

void QtEventPump::yield() {
    if (!QCoreApplication::instance()) {
        // No event loop to wait on; still never spin.
        QThread::msleep(static_cast<unsigned long>(maxWait_));
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    wake_.start();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    wake_.stop();
}

} // namespace meterlink
