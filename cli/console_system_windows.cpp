#include "cli/console_system.h"

#include <io.h>
#include <windows.h>

namespace meterlink {

bool isTerminal(int descriptor) {
    return ::_isatty(descriptor) != 0;
}

double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0.0;
    const auto ticks = [](const FILETIME& time) {
        return double((unsigned long long)time.dwHighDateTime << 32 | time.dwLowDateTime);
    };
    // FILETIME counts 100 ns.
    return (ticks(kernel) + ticks(user)) / 1e7;
}

} // namespace meterlink
