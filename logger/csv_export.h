#pragma once

#include "logger/channel_flags.h"

#include <QString>

namespace meterlink {

class GridModel;

// Writes grid rows 1..LastGridRow to a comma-separated file: the timestamp, then the column
// of each channel in use. Unquoted, CR LF, one byte per character (Latin-1).
class CsvExport {
public:
    // -1 when the whole file was written and committed, 0 otherwise; a failure leaves any
    // earlier file of that name as it was.
    qint16 ExportCsv(const GridModel& grid, qint32 LastGridRow, const ChannelFlags& ChannelInUse,
                     const QString& fileName);

    // Which file and what the system said, after a result of 0.
    const QString& failureReason() const { return failureReason_; }

private:
    QString failureReason_;
};

} // namespace meterlink
