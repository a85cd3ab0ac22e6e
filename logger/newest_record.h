#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace meterlink {

// When the newest record of a log was taken: the last whole record whose date and time
// convert. The records carry no year.
struct RecordMoment {
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
};
std::optional<RecordMoment> newestRecord(const QByteArray& log);
struct LogImage;
// The same over the log blocks an image holds (all of them, or the ones an append read).
std::optional<RecordMoment> newestRecord(const LogImage& image);

// "newest record 17 May 09:30, 14 h ago": its age against `now`, taking the latest year
// in which the moment is not more than a day ahead of `now` (a meter's clock may run a
// little ahead of the PC's).
QString newestRecordText(const RecordMoment& moment, const QDateTime& now);

} // namespace meterlink
