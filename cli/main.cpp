#include "cli/cli_runner.h"
#include "cli/console_system.h"

#include <QCoreApplication>
#include <QFile>

int main(int argc, char* argv[]) {
    // Qt's own event dispatcher: under glib every notifier toggle costs two system calls,
    // and the link toggles one per transaction.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);

    QFile out;
    QFile err;
    out.open(meterlink::kStandardOutput, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(meterlink::kStandardError, QIODevice::WriteOnly | QIODevice::Unbuffered);
    meterlink::Console console{out, err, meterlink::isTerminal(meterlink::kStandardOutput),
                               meterlink::isTerminal(meterlink::kStandardError)};
    return meterlink::runCli(app.arguments().mid(1), console);
}
