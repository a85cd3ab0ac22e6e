#include "cli/download_job.h"

#include "cli/console_download_view.h"
#include "cli/exit_codes.h"
#include "logger/download_command.h"
#include "logger/download_log.h"
#include "logger/grid_model.h"

namespace meterlink {

int runDownloadJob(ModbusLink& link, EventPump& pump, const Settings& settings,
                   ConsoleDownloadView& view, const QLocale& locale, LogAnswerSink* sink) {
    GridModel grid;
    DownloadLog download(link, pump, settings, grid, view, locale);
    download.setAnswerSink(sink);
    DownloadCommand command(link, settings, grid, download, view);
    const DownloadOutcome outcome = command.run();
    view.finishProgress();
    switch (outcome) {
    case DownloadOutcome::Exported:
        return ExitDone;
    case DownloadOutcome::Empty:
        return ExitEmptyLog;
    case DownloadOutcome::ExportFailed:
        return ExitFileNotWritten;
    case DownloadOutcome::DownloadFailed:
    case DownloadOutcome::LinkBusy:
    case DownloadOutcome::Stopped:
        break;
    }
    return ExitLinkFailed;
}

} // namespace meterlink
