#include "platform/stop_signal_hook.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace meterlink {

namespace {

// The handler may touch only these: a lock-free atomic and write(2).
std::atomic<int> firstSignal{0};
int pipeWriteEnd = -1;

struct Previous {
    int signalNumber;
    struct sigaction action;
};
std::vector<Previous> previousActions;
int pipeReadEnd = -1;

extern "C" void onStopSignal(int signalNumber) {
    const int savedErrno = errno;
    int none = 0;
    firstSignal.compare_exchange_strong(none, signalNumber);
    const char byte = char(signalNumber);
    // A full pipe already says that a stop came.
    [[maybe_unused]] const auto written = ::write(pipeWriteEnd, &byte, 1);
    errno = savedErrno;
}

bool makePipe(int ends[2]) {
    if (::pipe(ends) != 0)
        return false;
    for (int n = 0; n < 2; ++n) {
        if (::fcntl(ends[n], F_SETFD, FD_CLOEXEC) != 0 ||
            ::fcntl(ends[n], F_SETFL, ::fcntl(ends[n], F_GETFL) | O_NONBLOCK) != 0) {
            ::close(ends[0]);
            ::close(ends[1]);
            return false;
        }
    }
    return true;
}

void restore() {
    for (const Previous& previous : previousActions)
        ::sigaction(previous.signalNumber, &previous.action, nullptr);
    previousActions.clear();
}

} // namespace

StopSignalHook::StopSignalHook() : StopSignalHook({SIGINT, SIGTERM}) {}

StopSignalHook::StopSignalHook(std::initializer_list<int> signalNumbers) {
    if (pipeReadEnd >= 0)
        return;
    int ends[2];
    if (!makePipe(ends))
        return;
    pipeReadEnd = ends[0];
    pipeWriteEnd = ends[1];
    firstSignal = 0;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls resume; the pipe wakes whoever waits for the stop.
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : signalNumbers) {
        Previous previous{signalNumber, {}};
        if (::sigaction(signalNumber, &action, &previous.action) != 0) {
            restore();
            ::close(pipeReadEnd);
            ::close(pipeWriteEnd);
            pipeReadEnd = pipeWriteEnd = -1;
            return;
        }
        previousActions.push_back(previous);
    }
    installed_ = true;
    waitHandle_ = pipeReadEnd;
}

StopSignalHook::~StopSignalHook() {
    if (!installed_)
        return;
    restore();
    ::close(pipeReadEnd);
    ::close(pipeWriteEnd);
    pipeReadEnd = pipeWriteEnd = -1;
}

int StopSignalHook::takeSignal() {
    if (!installed_)
        return 0;
    char bytes[64];
    while (::read(pipeReadEnd, bytes, sizeof bytes) > 0) {
    }
    return firstSignal.load();
}

void StopSignalHook::finished() {}

} // namespace meterlink
