#include "cli/cli_runner.h"
#include "cli/stop_signals.h"

#include <QCoreApplication>
#include <QFile>

#include <unistd.h>

int main(int argc, char* argv[]) {
    // Before any thread exists, so that no thread takes the signals instead of the loop.
    meterlink::StopSignals::blockStopSignals();
    // Qt's own event dispatcher: under glib every notifier toggle costs two system calls,
    // and the link toggles one per transaction.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);

    QFile out;
    QFile err;
    out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    meterlink::Console console{out, err, ::isatty(STDOUT_FILENO) == 1,
                               ::isatty(STDERR_FILENO) == 1};
    return meterlink::runCli(app.arguments().mid(1), console);
}
