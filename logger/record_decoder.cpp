#include "logger/record_decoder.h"

#include "logger/grid_model.h"
#include "logger/meter_float.h"

namespace meterlink {

int bcdValue(quint8 byte) {
    const int high = byte >> 4;
    const int low = byte & 15;
    if (low > 9 || (high > 9))
        return -1;
    return high * 10 + low;
}

QString timeFormatWithSeconds(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (format.contains(QLatin1Char('s')))
        return format;
    int minutes = format.lastIndexOf(QLatin1String("mm"));
    int width = 2;
    if (minutes < 0) {
        minutes = format.lastIndexOf(QLatin1Char('m'));
        width = 1;
    }
    if (minutes < 0)
        return format + QLatin1String(":ss");
    QChar separator = QLatin1Char(':');
    if (minutes > 0 && !format.at(minutes - 1).isLetter())
        separator = format.at(minutes - 1);
    format.insert(minutes + width, separator + QLatin1String("ss"));
    return format;
}

QString dateFormatWithFullYear(const QLocale& locale) {
    // A two-digit year makes a stored file ambiguous; the log's year is always written whole.
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

RecordDecoder::RecordDecoder(GridModel& grid, const QLocale& locale)
    : grid_(grid), locale_(locale), dateFormat_(dateFormatWithFullYear(locale)),
      timeFormat_(timeFormatWithSeconds(locale)), dateTexts_(367), timeTexts_(24 * 60) {}

QString RecordDecoder::dateText(const QDate& date) {
    if (date.year() != logYear)
        return locale_.toString(date, dateFormat_);
    QString& text = dateTexts_[size_t(date.dayOfYear())];
    if (text.isEmpty())
        text = locale_.toString(date, dateFormat_);
    return text;
}

QString RecordDecoder::timeText(const QTime& time) {
    if (time.second() != 0 || time.msec() != 0)
        return locale_.toString(time, timeFormat_);
    QString& text = timeTexts_[size_t(time.hour() * 60 + time.minute())];
    if (text.isEmpty())
        text = locale_.toString(time, timeFormat_);
    return text;
}

void RecordDecoder::useIsoTimestamps() {
    iso_ = true;
    locale_ = QLocale::c(); // other locales may write other digits
    dateFormat_ = QStringLiteral("yyyy-MM-dd");
    timeFormat_ = QStringLiteral("HH:mm:ss");
    dateTexts_.assign(dateTexts_.size(), QString());
    timeTexts_.assign(timeTexts_.size(), QString());
}

void RecordDecoder::useTimestampPatterns(const QString& datePattern, const QString& timePattern) {
    iso_ = false;
    dateFormat_ = datePattern;
    timeFormat_ = timePattern;
    dateTexts_.assign(dateTexts_.size(), QString());
    timeTexts_.assign(timeTexts_.size(), QString());
}

QString RecordDecoder::timestampText(const QDate& date, const QTime& time) {
    if (date.isValid()) {
        if (!time.isValid() || (time == QTime(0, 0) && !iso_))
            return dateText(date);
        return dateText(date) + QLatin1Char(' ') + timeText(time);
    }
    // Neither part converted: what is left is the zero time of day.
    return timeText(time.isValid() ? time : QTime(0, 0));
}

void RecordDecoder::DecodeRecord(const QByteArray& block, qint32& LastGridRow) {
    // The comparison state lives for one block only, so equal moments split at its edge.
    QDate date;
    QTime time;
    QDate previousDate;
    QTime previousTime;
    QString timestamp;
    bool timestampKnown = false;

    const auto* bytes = reinterpret_cast<const quint8*>(block.constData());
    const int records = int(block.size() / recordSize);
    joinedRow_ = false;
    for (int n = 0; n < records; ++n) {
        const quint8* record = bytes + qsizetype(n) * recordSize;
        const int channel = record[0] >> 4;

        // A field that does not convert keeps the previous record's value.
        const QDate recordDate(logYear, record[0] & 15, bcdValue(record[1]));
        if (recordDate.isValid() && recordDate != date) {
            date = recordDate;
            timestampKnown = false;
        }
        const QTime recordTime(bcdValue(record[2]), bcdValue(record[3]));
        if (recordTime.isValid() && recordTime != time) {
            time = recordTime;
            timestampKnown = false;
        }

        bool openedRow = false;
        if (date != previousDate || time != previousTime) {
            ++LastGridRow;
            previousDate = date;
            previousTime = time;
            openedRow = true;
        } else if (n == 0 && LastGridRow < 2) {
            // A first record without a moment would otherwise land on the header row.
            ++LastGridRow;
            openedRow = true;
        }
        if (n == 0)
            joinedRow_ = !openedRow;

        // A record without a moment joins the row before it: that row's own timestamp is
        // the one that holds, never overwritten by a zero time.
        if (openedRow || date.isValid() || time.isValid()) {
            if (!timestampKnown) {
                timestamp = timestampText(date, time);
                timestampKnown = true;
            }
            grid_.setTextMatrix(LastGridRow, 1, timestamp);
        }
        grid_.setTextMatrix(LastGridRow, 0, QString::number(LastGridRow - 1));
        // Channel 0 would overwrite the timestamp and 9 to 15 have no column.
        if (channel >= 1 && channel <= 8) {
            const float reading = DecodeMeterFloat(record[4], record[5], record[6], record[7]);
            grid_.setTextMatrix(LastGridRow, channel + 1, MeterFloatText(reading));
        }
    }
}

QDate isoTimestampDate(const QString& text) {
    if (text.size() < 10 || text.at(4) != u'-' || text.at(7) != u'-')
        return QDate();
    return QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
}

void setIsoYears(GridModel& grid, qint32 firstRow, qint32 lastRow, const QDate& before,
                 const QDateTime& now) {
    const auto setYear = [&](qint32 row, int year) {
        grid.setTextMatrix(row, 1,
                           QStringLiteral("%1").arg(year, 4, 10, QLatin1Char('0')) +
                               grid.TextMatrix(row, 1).mid(4));
    };
    const auto monthDay = [](const QDate& date) { return date.month() * 100 + date.day(); };
    if (before.isValid()) {
        int year = before.year();
        int previous = monthDay(before);
        for (qint32 row = firstRow; row <= lastRow; ++row) {
            const QDate date = isoTimestampDate(grid.TextMatrix(row, 1));
            if (!date.isValid())
                continue;
            if (monthDay(date) < previous)
                ++year;
            previous = monthDay(date);
            setYear(row, year);
        }
        return;
    }
    int year = 0;
    int later = 0;
    for (qint32 row = lastRow; row >= firstRow; --row) {
        const QString text = grid.TextMatrix(row, 1);
        const QDate date = isoTimestampDate(text);
        if (!date.isValid())
            continue;
        if (year == 0) {
            // 29 February has no place in the log's year; the newest record needs none.
            year = now.date().year();
            const QTime time = QTime::fromString(text.mid(11), QStringLiteral("HH:mm:ss"));
            const QDate thisYear(year, date.month(), date.day());
            if (!thisYear.isValid() || thisYear > now.date() ||
                (thisYear == now.date() && time.isValid() && time > now.time()))
                --year;
        } else if (monthDay(date) > later) {
            --year;
        }
        later = monthDay(date);
        setYear(row, year);
    }
}

} // namespace meterlink
