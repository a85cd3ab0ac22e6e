#pragma once

#include <cstdint>
#include <initializer_list>

namespace meterlink {

// The requests to stop that a console program gets, caught without Qt: SIGINT, SIGTERM and
// whichever others are named on POSIX (a handler writes to a pipe), the console's control
// events on Windows (Ctrl-C and Ctrl-Break as SIGINT, closing the console, logging off and
// shutting down as SIGTERM). One hook at a time per process. While none is installed the
// system's default stands: nothing is ever left blocked or ignored.
class StopSignalHook {
public:
    StopSignalHook();
    explicit StopSignalHook(std::initializer_list<int> signalNumbers);
    // Puts back what was there before.
    ~StopSignalHook();
    StopSignalHook(const StopSignalHook&) = delete;
    StopSignalHook& operator=(const StopSignalHook&) = delete;

    bool isInstalled() const { return installed_; }
    // Ready once a stop came: a descriptor to read (POSIX) or an event HANDLE (Windows).
    std::intptr_t waitHandle() const { return waitHandle_; }
    // The first stop signal that came, 0 while none did; clears the ready state.
    int takeSignal();
    // Called when the program has finished what a stop asked of it; on Windows the system
    // ends the process as soon as a close event's handler returns, so that handler waits
    // for this (a few seconds at most).
    void finished();

private:
    bool installed_ = false;
    std::intptr_t waitHandle_ = -1;
};

} // namespace meterlink
