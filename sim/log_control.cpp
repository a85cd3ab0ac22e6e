#include "sim/log_control.h"

#include "sim/meter_log.h"

#include <QList>

namespace meterlink {

LogControl parseLogControl(const QByteArray& text) {
    LogControl control;
    const QList<QByteArray> lines = text.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        const QList<QByteArray> words = lines.at(index).simplified().split(' ');
        if (words.first().isEmpty() || words.first().startsWith('#'))
            continue;
        bool ok = false;
        const qint64 value = words.size() == 2 ? words.at(1).toLongLong(&ok, 10) : -1;
        if (words.first() == "records" && ok && value >= 0 && value <= MeterLog::CapacityRecords)
            control.records = static_cast<int>(value);
        else if (words.first() == "seed" && ok && value >= 0 && value <= 4294967295LL)
            control.seed = static_cast<quint32>(value);
        else if (words.first() == "stall-after" && ok && value >= 0 && value <= 1000000)
            control.stallAfter = static_cast<int>(value);
        else
            control.errors << QStringLiteral("line %1: expected \"records N\" (0 to %2), "
                                             "\"seed S\" or \"stall-after N\"")
                                  .arg(index + 1)
                                  .arg(MeterLog::CapacityRecords);
    }
    return control;
}

} // namespace meterlink
