#include "cli/stop_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace meterlink {

namespace {

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

bool StopSignals::blockStopSignals() {
    const sigset_t set = stopSet();
    return sigprocmask(SIG_BLOCK, &set, nullptr) == 0;
}

StopSignals::StopSignals() {
    const sigset_t set = stopSet();
    fd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readPending(); });
}

StopSignals::~StopSignals() {
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

bool StopSignals::stopRequested() {
    if (signal_ == 0)
        readPending();
    return signal_ != 0;
}

void StopSignals::readPending() {
    if (fd_ < 0)
        return;
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof info) == ssize_t(sizeof info)) {
        if (signal_ == 0) {
            signal_ = int(info.ssi_signo);
            emit stopRequestedNow(signal_);
        }
    }
}

} // namespace meterlink
