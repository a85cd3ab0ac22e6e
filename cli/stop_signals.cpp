#include "cli/stop_signals.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

namespace meterlink {

StopSignals::StopSignals() {
    if (!hook_.isInstalled())
        return;
#ifdef Q_OS_WIN
    auto notifier =
        std::make_unique<QWinEventNotifier>(reinterpret_cast<Qt::HANDLE>(hook_.waitHandle()));
    connect(notifier.get(), &QWinEventNotifier::activated, this, [this] { takePending(); });
#else
    auto notifier =
        std::make_unique<QSocketNotifier>(qintptr(hook_.waitHandle()), QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this] { takePending(); });
#endif
    notifier_ = std::move(notifier);
}

StopSignals::~StopSignals() {
    notifier_.reset();
    hook_.finished();
}

bool StopSignals::stopRequested() {
    if (signal_ == 0)
        takePending();
    return signal_ != 0;
}

void StopSignals::takePending() {
    const int signalNumber = hook_.takeSignal();
    if (signal_ == 0 && signalNumber != 0) {
        signal_ = signalNumber;
        emit stopRequestedNow(signal_);
    }
}

} // namespace meterlink
