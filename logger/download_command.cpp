#include "logger/download_command.h"

#include "logger/download_log.h"
#include "logger/download_view.h"
#include "logger/grid_model.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"

namespace meterlink {

DownloadCommand::DownloadCommand(ModbusLink& link, const Settings& settings, GridModel& grid,
                                 DownloadLog& download, DownloadView& view)
    : link_(link), settings_(settings), grid_(grid), download_(download), view_(view) {}

DownloadOutcome DownloadCommand::run() {
    // A session held elsewhere waits below us on this very stack: waiting here would never
    // let it finish, so the caller has to come back later instead.
    LinkSession session(link_);
    if (!session.owns())
        return DownloadOutcome::LinkBusy;

    failureReason_.clear();
    view_.setStatusText(QStringLiteral("Downloading"));
    view_.setStatusToolTip(QString());
    view_.setDownloadEnabled(false);
    grid_.Clear();

    DownloadOutcome outcome = DownloadOutcome::DownloadFailed;
    switch (download_.run(session)) {
    case DownloadLog::Completed:
        view_.setStatusText(QStringLiteral("Completed Download."));
        view_.setProgress(100.0f);
        // The name is read now: one chosen during the download is the one that counts.
        if (export_.ExportCsv(grid_, download_.LastGridRow(), download_.channelFlags(),
                              settings_.SaveFileName)) {
            view_.setStatusText(QStringLiteral("Finished. Data in File"));
            outcome = DownloadOutcome::Exported;
        } else {
            failureReason_ = export_.failureReason();
            view_.setStatusText(QStringLiteral("Error putting into file!!"));
            outcome = DownloadOutcome::ExportFailed;
        }
        break;
    case DownloadLog::Empty:
        view_.setStatusText(QStringLiteral("0 Records Available"));
        outcome = DownloadOutcome::Empty;
        break;
    default:
        if (session.aborted()) {
            // A stop is no failure of the meter: the file is left as it was, and the status
            // says all there is to say.
            view_.setStatusText(QStringLiteral("Download stopped"));
            outcome = DownloadOutcome::Stopped;
            break;
        }
        failureReason_ = download_.failureReason();
        view_.setStatusText(QStringLiteral("Error in Downloading!!"));
        outcome = DownloadOutcome::DownloadFailed;
        break;
    }
    // A nearly full logger is told after a download that went well, so that the site can
    // collect and clear it in time.
    view_.setStatusToolTip(outcome == DownloadOutcome::Exported ? download_.memoryWarning()
                                                                : failureReason_);
    view_.setDownloadEnabled(true);
    return outcome;
}

} // namespace meterlink
