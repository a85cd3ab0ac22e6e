#pragma once

#include <QByteArray>
#include <QStringList>
#include <optional>

namespace meterlink {

// A running meterlink-sim's log, changed from outside between two downloads: the file
// holds "records N" (the log grows or shrinks, keeping what it had) and "seed S" (a new
// seed: the meter's log was cleared and restarted with other readings) and "stall-after N"
// (the log falls silent after N answered log reads, until the file changes again).
struct LogControl {
    std::optional<int> records;
    std::optional<quint32> seed;
    std::optional<int> stallAfter;
    QStringList errors;
};

LogControl parseLogControl(const QByteArray& text);

} // namespace meterlink
