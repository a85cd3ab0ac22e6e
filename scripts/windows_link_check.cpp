// Uses every Qt-free system piece, so that linking it for Windows needs each one's body.
#include "cli/console_system.h"
#include "platform/stop_signal_hook.h"

#include <cstdio>

int main() {
    meterlink::StopSignalHook hook;
    std::printf("%d %d %f %d\n", int(hook.isInstalled()),
                int(meterlink::isTerminal(meterlink::kStandardOutput)),
                meterlink::processCpuSeconds(), hook.takeSignal());
    hook.finished();
    return 0;
}
