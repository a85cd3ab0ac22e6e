#include "platform/stop_signal_hook.h"

#include <atomic>
#include <csignal>

#include <windows.h>

namespace meterlink {

namespace {

std::atomic<int> firstSignal{0};
HANDLE stopEvent = nullptr;
HANDLE finishedEvent = nullptr;

// Runs on a thread of its own that the system starts for each event.
BOOL WINAPI onConsoleControl(DWORD type) {
    const bool closing =
        type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    int none = 0;
    firstSignal.compare_exchange_strong(none, closing ? SIGTERM : SIGINT);
    ::SetEvent(stopEvent);
    // The process ends when this returns: give the run the time the system allows to end
    // its transaction and close its files.
    if (closing)
        ::WaitForSingleObject(finishedEvent, 4500);
    return TRUE;
}

} // namespace

StopSignalHook::StopSignalHook() : StopSignalHook({SIGINT, SIGTERM}) {}

StopSignalHook::StopSignalHook(std::initializer_list<int>) {
    if (stopEvent)
        return;
    stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    finishedEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stopEvent || !finishedEvent || !::SetConsoleCtrlHandler(onConsoleControl, TRUE)) {
        if (stopEvent)
            ::CloseHandle(stopEvent);
        if (finishedEvent)
            ::CloseHandle(finishedEvent);
        stopEvent = finishedEvent = nullptr;
        return;
    }
    firstSignal = 0;
    installed_ = true;
    waitHandle_ = reinterpret_cast<std::intptr_t>(stopEvent);
}

StopSignalHook::~StopSignalHook() {
    if (!installed_)
        return;
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    finished();
    ::CloseHandle(stopEvent);
    ::CloseHandle(finishedEvent);
    stopEvent = finishedEvent = nullptr;
}

int StopSignalHook::takeSignal() {
    if (!installed_)
        return 0;
    ::ResetEvent(stopEvent);
    return firstSignal.load();
}

void StopSignalHook::finished() {
    if (installed_)
        ::SetEvent(finishedEvent);
}

} // namespace meterlink
