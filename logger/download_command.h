#pragma once

#include "logger/csv_export.h"

#include <QString>

namespace meterlink {

class DownloadLog;
class DownloadView;
class GridModel;
class ModbusLink;
struct Settings;

enum class DownloadOutcome {
    Exported = 0,       // "Finished. Data in File"
    Empty = 1,          // "0 Records Available"
    DownloadFailed = 2, // "Error in Downloading!!"
    ExportFailed = 3,   // "Error putting into file!!"
    // Another caller held the link further down the call stack (a display tick letting
    // events run). Nothing was touched; start again once that call has returned.
    LinkBusy = 4,
    // The link's session was aborted (Stop, closing the window, Ctrl-C): "Download stopped".
    Stopped = 5,
};

// The "Download Data" command: guards the button, clears the grid, downloads, exports,
// all in one session of the link; abort() on the link stops it.
class DownloadCommand {
public:
    DownloadCommand(ModbusLink& link, const Settings& settings, GridModel& grid,
                    DownloadLog& download, DownloadView& view);

    DownloadOutcome run();

    // Why the latest run did not export; empty after a success.
    const QString& failureReason() const { return failureReason_; }

private:
    ModbusLink& link_;
    const Settings& settings_;
    GridModel& grid_;
    DownloadLog& download_;
    DownloadView& view_;
    CsvExport export_;
    QString failureReason_;
};

} // namespace meterlink
