#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>
#include <vector>

namespace meterlink {

class GridModel;

// Turns log blocks into grid rows: readings taken at the same moment share one row,
// channel k's reading in column k + 1.
class RecordDecoder {
public:
    static constexpr int recordSize = 8;
    static constexpr int logYear = 2001;

    // The locale decides the timestamp's date and time formats; its numbers never show.
    RecordDecoder(GridModel& grid, const QLocale& locale);

    // Adds the block's whole records to the grid, advancing LastGridRow; a trailing partial
    // record is dropped.
    void DecodeRecord(const QByteArray& block, qint32& LastGridRow);

    // Whether the latest block's first record joined the row the block found (it had no
    // moment of its own), so that the block's rows begin in an earlier block's.
    bool joinedRow() const { return joinedRow_; }

    // Timestamps as 2001-05-17 09:30:00 (midnight too keeps its time), which spreadsheets
    // read as a date whatever their locale.
    void useIsoTimestamps();

    // Timestamps in the given QLocale patterns with the constructor's locale's digits: the
    // form a file was first written in, kept by the runs that append to it.
    void useTimestampPatterns(const QString& datePattern, const QString& timePattern);

    // The locale's general date-time text: short date, a blank, the time with seconds;
    // midnight shows the date alone, a missing date the time alone.
    QString timestampText(const QDate& date, const QTime& time);

private:
    QString dateText(const QDate& date);
    QString timeText(const QTime& time);

    GridModel& grid_;
    QLocale locale_;
    QString dateFormat_;
    QString timeFormat_;
    bool iso_ = false;
    bool joinedRow_ = false;
    // Formatting through the locale is the slow part of a download; a log of 2001 has at
    // most 365 dates and 1440 minutes, so each text is made once.
    std::vector<QString> dateTexts_;
    std::vector<QString> timeTexts_;
};

// ISO timestamps of rows firstRow..lastRow given their real years in place of the log's
// 2001: the year steps on each time month and day go backwards. `before` is the dated row
// that precedes them, with its year, when there is one; else the newest row takes the year
// of `now`, or the one before when that would put it in the future.
void setIsoYears(GridModel& grid, qint32 firstRow, qint32 lastRow, const QDate& before,
                 const QDateTime& now);

// The date of an ISO timestamp text, invalid for any other text.
QDate isoTimestampDate(const QString& text);

// Byte text of a BCD field: the byte's hex digits read as a decimal number, -1 when
// they are not one (0x25 gives 25, 0x1A gives -1).
int bcdValue(quint8 byte);

// The locale's short time format with seconds added where it has none.
QString timeFormatWithSeconds(const QLocale& locale);
QString dateFormatWithFullYear(const QLocale& locale);

} // namespace meterlink
