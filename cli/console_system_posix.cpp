#include "cli/console_system.h"

#include <sys/resource.h>
#include <unistd.h>

namespace meterlink {

bool isTerminal(int descriptor) {
    return ::isatty(descriptor) == 1;
}

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace meterlink
