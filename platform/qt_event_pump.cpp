#include "platform/qt_event_pump.h"

#include <QAbstractEventDispatcher>
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
    // Sleep only when nothing was pending: the events just handled may have brought the
    // bytes the link waits for, and waiting on top of them would cost a tick per answer.
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher->processEvents(QEventLoop::AllEvents)) {
        return;
    }
    if (waitCondition_ && !waitCondition_()) {
        return;
    }
    wake_.start();
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    wake_.stop();
}

} // namespace meterlink
