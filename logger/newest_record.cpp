#include "logger/newest_record.h"

#include "logger/log_image.h"
#include "logger/record_decoder.h"

#include <QLocale>

namespace meterlink {

std::optional<RecordMoment> newestRecord(const QByteArray& log) {
    const auto* bytes = reinterpret_cast<const quint8*>(log.constData());
    for (qsizetype n = log.size() / RecordDecoder::recordSize - 1; n >= 0; --n) {
        const quint8* record = bytes + n * RecordDecoder::recordSize;
        const RecordMoment moment{record[0] & 15, bcdValue(record[1]), bcdValue(record[2]),
                                  bcdValue(record[3])};
        if (QDate(RecordDecoder::logYear, moment.month, moment.day).isValid() &&
            QTime(moment.hour, moment.minute).isValid())
            return moment;
    }
    return std::nullopt;
}

std::optional<RecordMoment> newestRecord(const LogImage& image) {
    QString why;
    const auto length = image.logLength(&why);
    if (!length)
        return std::nullopt;
    for (auto block = image.logBlocks.rbegin(); block != image.logBlocks.rend(); ++block) {
        if (block->first >= *length)
            continue;
        // A meter may answer more than was asked; what lies past the log is no record.
        if (auto moment = newestRecord(block->second.left(*length - block->first)))
            return moment;
    }
    return std::nullopt;
}

QString newestRecordText(const RecordMoment& moment, const QDateTime& now) {
    const QTime time(moment.hour, moment.minute);
    QDateTime taken;
    for (int year = now.date().year(); year > now.date().year() - 8 && !taken.isValid(); --year) {
        const QDateTime candidate(QDate(year, moment.month, moment.day), time);
        if (candidate.isValid() && candidate <= now.addDays(1))
            taken = candidate;
    }
    const QString when =
        QLocale::c().toString(QDate(RecordDecoder::logYear, moment.month, moment.day),
                              QStringLiteral("d MMM")) +
        QLatin1Char(' ') + time.toString(QStringLiteral("HH:mm"));
    if (!taken.isValid())
        return QStringLiteral("newest record %1").arg(when);
    const qint64 seconds = taken.secsTo(now);
    QString age;
    if (seconds < 0)
        age = QStringLiteral("%1 min ahead of this PC's clock").arg((-seconds + 59) / 60);
    else if (seconds < 3600)
        age = QStringLiteral("%1 min ago").arg(seconds / 60);
    else if (seconds < 48 * 3600)
        age = QStringLiteral("%1 h ago").arg(seconds / 3600);
    else
        age = QStringLiteral("%1 days ago").arg(seconds / 86400);
    return QStringLiteral("newest record %1, %2").arg(when, age);
}

} // namespace meterlink
