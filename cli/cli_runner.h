#pragma once

#include <QIODevice>
#include <QStringList>

namespace meterlink {

// Where meterlink-cli writes, and whether a person is watching.
struct Console {
    QIODevice& out;
    QIODevice& err;
    bool outIsTerminal = false;
    bool errIsTerminal = false;
};

// The whole program on the real serial port, clock and event loop: the arguments without
// the program name in, the exit status out. Needs a QCoreApplication. SIGINT and SIGTERM
// end it cleanly once the trace file is open; before that they end it as they end any
// program.
int runCli(const QStringList& arguments, Console& console);

} // namespace meterlink
