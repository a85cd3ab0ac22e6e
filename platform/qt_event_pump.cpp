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
    if (skipCondition_ && skipCondition_()) {
        return;
    }
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (waitCondition_ && !waitCondition_()) {
        // Pending events run at least once a millisecond; passes closer together than that
        // find nothing new and only cost a system call each (three per transaction).
        if (lastPass_.isValid() && lastPass_.nsecsElapsed() < 1000000) {
            return;
        }
        dispatcher->processEvents(QEventLoop::AllEvents);
        lastPass_.start();
        return;
    }
    // One pass: the dispatcher sleeps only when nothing is pending, so events that bring
    // the awaited bytes cost no tick, and a separate look first would cost a system call.
    // Held input ends the sleep when the hold ends, sooner or later than the short timer,
    // and to the millisecond: a coarse timer may be 5 % late.
    const int held = sleepAllowance_ ? sleepAllowance_() : 0;
    wake_.setTimerType(held > 0 ? Qt::PreciseTimer : Qt::CoarseTimer);
    wake_.start(held > 0 ? held : maxWait_);
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    wake_.stop();
    lastPass_.start();
}

void QtEventPump::rest() {
    if (!QCoreApplication::instance()) {
        QThread::msleep(static_cast<unsigned long>(maxWait_));
        return;
    }
    wake_.start(maxWait_);
    QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents |
                                                        QEventLoop::WaitForMoreEvents);
    wake_.stop();
    lastPass_.start();
}

} // namespace meterlink
