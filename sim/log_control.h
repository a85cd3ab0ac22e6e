#pragma once

#include <QByteArray>
#include <QStringList>
#include <optional>

namespace meterlink {

// A running meterlink-sim's log, changed from outside between two downloads: the file
// holds "records N" (the log grows or shrinks, keeping what it had) and "seed S" (a new
// seed: the meter's log was cleared and restarted with other readings).
struct LogControl {
    std::optional<int> records;
    std::optional<quint32> seed;
    QStringList errors;
};

LogControl parseLogControl(const QByteArray& text);

} // namespace meterlink
