#pragma once

#include "chart/chart_data.h"
#include "chart/timestamp_reader.h"

#include <QHash>

namespace meterlink {

// Turns rows of a log (a timestamp text and one reading per channel) into the chart's
// series, in the reader's form. Readings the chart cannot draw are counted, never guessed.
class SeriesBuilder {
public:
    SeriesBuilder(const QStringList& channelNames, const TimestampReader& reader);

    // Starts a row with `fieldCount` readings; false when its timestamp has no date or does
    // not convert, and then the row's readings are left out.
    bool beginRow(QStringView timestamp, int fieldCount);
    // Reading of channel `index` (0-based) of the row begun; blank text is no reading.
    void addReading(int index, const char* begin, const char* end);
    void addReading(int index, QStringView text);

    // Sorts each channel by time and splits it where no record came for longer than three
    // times its usual step.
    ChartData finish();

private:
    qint64 msecsOf(const QDate& date, const QTime& time);

    TimestampReader reader_;
    ChartData data_;
    double rowTime_ = 0;
    QDate previousDate_;
    double previousTime_ = 0;
    bool anyRow_ = false;
    int yearsAhead_ = 0;
    QHash<qint64, qint64> midnights_; // julian day -> ms, for days without a clock change
};

// The reading of a cell or field: the number, or why there is none.
enum class ReadingKind { Blank, Number, Limit, Text };
ReadingKind parseReading(const char* begin, const char* end, double& value);

} // namespace meterlink
