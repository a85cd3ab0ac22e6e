#pragma once

#include "sim/meter_faults.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace meterlink {

// meterlink-sim's command line.
struct SimOptions {
    QString linkPath;
    // Behind a simulated gateway instead: a loopback address and a port (0: any free one).
    QString tcpHost;
    int tcpPort = -1;
    QString scenarioPath;
    QString imagePath; // a log image: its log and names, served as they were read
    QString exportPath;
    std::optional<int> records;
    int baud = 0;               // 0: answer as fast as possible
    bool paced = false;         // each byte at its own time on the line, not in pieces
    std::optional<int> slaveId; // the first of slaveIds
    QList<int> slaveIds;        // one meter each, all on the one line
    QString controlPath;
    quint32 seed = 1;
    MeterFaults faults;
    // --unplug N:SECONDS: the line vanishes as the N-th request arrives and comes back under
    // the same link, on a new pseudo-terminal, SECONDS later.
    int unplugAt = 0;
    double unpluggedFor = 0.0;
    bool help = false;
    bool version = false; // --version, anywhere on the line

    // Arguments without the program name. Returns why they are wrong, if they are.
    std::optional<QString> parse(const QStringList& arguments);
};

QString simUsage();

} // namespace meterlink
