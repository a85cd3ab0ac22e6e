#include "cli/collect_run.h"

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/console_download_view.h"
#include "cli/download_job.h"
#include "cli/exit_codes.h"
#include "cli/log_image_run.h"
#include "logger/csv_export.h"
#include "logger/download_log.h"
#include "logger/grid_model.h"
#include "logger/log_append.h"
#include "logger/log_image.h"
#include "logger/record_decoder.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"

#include <QBuffer>

namespace meterlink {

namespace {

const QByteArray byteOrderMark = "\xEF\xBB\xBF";

struct MeterResult {
    int exit = ExitDone;
    QString outcome;       // the status text, or what happened instead
    QString reason;        // why it failed, for stderr
    QString warning;       // a logger nearly full, told with the outcome
    bool wholeLog = false; // the CSV holds the whole log read now: its image starts afresh
};

// Monitoring scripts see the worst of the meters' outcomes, in this order.
int rank(int exit) {
    switch (exit) {
    case ExitFileNotWritten:
        return 0;
    case ExitLinkFailed:
        return 1;
    case ExitLogRestarted:
        return 2;
    case ExitPortInUse:
        return 3;
    case ExitEmptyLog:
        return 4;
    case ExitNewFile:
        return 5;
    default:
        return 6;
    }
}

class Collector {
public:
    Collector(ModbusLink& link, EventPump& pump, const Settings& settings,
              const CliOptions& options, ConsoleDownloadView& view, const QDateTime& now)
        : link_(link), pump_(pump), settings_(settings), options_(options), view_(view), now_(now) {
    }

    MeterResult whole(int slave, const QString& fileName, LogAnswerSink* sink);
    MeterResult append(int slave, const QString& fileName, LogAnswerSink* sink);

private:
    MeterResult fail(int exit, const QString& status, const QString& reason) {
        view_.setStatusText(status);
        return {exit, status, reason, QString()};
    }
    // A stop is no failure of the meter; the runner reports it.
    QString downloadFailedText() const {
        return link_.aborted() ? QStringLiteral("Download stopped")
                               : QStringLiteral("Error in Downloading!!");
    }
    CsvDialect dialect() const {
        return options_.semicolons ? CsvDialect::Semicolon : CsvDialect::Comma;
    }

    ModbusLink& link_;
    EventPump& pump_;
    const Settings& settings_;
    const CliOptions& options_;
    ConsoleDownloadView& view_;
    QDateTime now_; // the PC's clock at the start: the year of the newest record
};

MeterResult Collector::whole(int slave, const QString& fileName, LogAnswerSink* sink) {
    Settings meter = settings_;
    meter.SlaveId = qint16(slave);
    // A stop signal aborts the session: its later transactions fail at once.
    LinkSession session(link_);
    view_.setStatusText(QStringLiteral("Downloading"));
    GridModel grid;
    DownloadLog download(link_, pump_, meter, grid, view_);
    download.setAnswerSink(sink);
    if (options_.isoTimestamps)
        download.decoder().useIsoTimestamps();
    switch (download.run(session)) {
    case DownloadLog::Completed:
        break;
    case DownloadLog::Empty:
        return fail(ExitEmptyLog, QStringLiteral("0 Records Available"), QString());
    default:
        return fail(ExitLinkFailed, downloadFailedText(), download.failureReason());
    }
    view_.setStatusText(QStringLiteral("Completed Download."));
    view_.setProgress(100.0f);
    QString why;
    if (options_.isoTimestamps)
        setIsoYears(grid, 2, download.LastGridRow(), QDate(), now_);
    CsvExport writer;
    writer.setDialect(dialect());
    const QByteArray bytes =
        writer.fileBytes(grid, download.LastGridRow(), download.channelFlags());
    if (!writeFileWhole(fileName, options_.byteOrderMark ? byteOrderMark + bytes : bytes, &why))
        return fail(ExitFileNotWritten, QStringLiteral("Error putting into file!!"), why);
    view_.setStatusText(QStringLiteral("Finished. Data in File"));
    return {ExitDone, QStringLiteral("Finished. Data in File %1").arg(fileName), QString(),
            download.memoryWarning()};
}

MeterResult Collector::append(int slave, const QString& fileName, LogAnswerSink* sink) {
    AppendRules rules;
    rules.newFileForm = environmentCsvForm(options_.isoTimestamps, options_.byteOrderMark);
    if (options_.semicolons) {
        rules.newFileForm.fieldSeparator = QLatin1Char(';');
        rules.newFileForm.decimalMark = QLatin1Char(',');
    }
    rules.failOnMismatch = options_.failOnMismatch;
    rules.failOnRestart = options_.failOnRestart;
    LogAppend append(link_, pump_, view_, view_);
    append.setAnswerSink(sink);
    const AppendOutcome outcome = append.run(slave, fileName, rules, now_);
    MeterResult result{ExitDone, outcome.summary, outcome.reason, outcome.warning,
                       outcome.wholeLog};
    switch (outcome.kind) {
    case AppendOutcome::Appended:
    case AppendOutcome::NoNewRecords:
    case AppendOutcome::NewFileAfterRestart:
        break;
    case AppendOutcome::NewFileNotAsLeft:
        result.exit = ExitNewFile;
        break;
    case AppendOutcome::NotAsLeft:
        result.exit = ExitFileNotWritten;
        result.reason += QStringLiteral("; nothing written (--on-mismatch=fail)");
        break;
    case AppendOutcome::Restarted:
        result.exit = ExitLogRestarted;
        result.reason += QStringLiteral("; nothing written (--on-restart=fail)");
        break;
    case AppendOutcome::EmptyLog:
        result.exit = ExitEmptyLog;
        break;
    case AppendOutcome::ReadFailed:
        result.exit = ExitLinkFailed;
        break;
    case AppendOutcome::NotWritten:
        result.exit = ExitFileNotWritten;
        break;
    }
    return result;
}

void printLine(QIODevice& device, const QString& line) {
    device.write(line.toUtf8() + '\n');
}

} // namespace

QString expandOutName(const QString& pattern, int slave, const QDateTime& started) {
    QString name = pattern;
    name.replace(QLatin1String("{slave}"), QString::number(slave));
    name.replace(QLatin1String("{date}"), started.toString(QStringLiteral("yyyy-MM-dd")));
    name.replace(QLatin1String("{time}"), started.toString(QStringLiteral("HHmmss")));
    return name;
}

int runCollect(ModbusLink& link, EventPump& pump, const std::function<bool()>& stopped,
               const Settings& settings, const CliOptions& options, Console& console,
               const QDateTime& started, const std::function<QDateTime()>& now) {
    const QList<int> slaves =
        options.slaves.isEmpty() ? QList<int>{settings.SlaveId} : options.slaves;
    const bool several = slaves.size() > 1;
    QBuffer quiet;
    quiet.open(QIODevice::WriteOnly);
    int status = ExitDone;
    for (const int slave : slaves) {
        if (stopped())
            break;
        const QString fileName = expandOutName(settings.SaveFileName, slave, started);
        LogImage image;
        LogImageRecorder recorder(image);
        QString newest; // the newest record's time and age, when the download read one
        // The image follows the CSV it was decoded into; its age line ends the outcome.
        const auto keep = [&](MeterResult& result) {
            // A file not as left still gets its whole log written, so an image too.
            if (result.exit != ExitDone && result.exit != ExitNewFile)
                return;
            const KeptDownload kept =
                keepDownload(link, image, options, slave, settings.BaudText.toInt(), fileName,
                             started, now(), result.wholeLog);
            newest = kept.newest;
            if (!kept.note.isEmpty())
                result.reason +=
                    (result.reason.isEmpty() ? QString() : QStringLiteral("; ")) + kept.note;
            if (!kept.imageError.isEmpty()) {
                result.exit = ExitFileNotWritten;
                result.outcome += QStringLiteral("; image not written");
                result.reason = kept.imageError;
            }
        };
        // One meter and nothing new asked: exactly the window's download.
        if (!several && !options.append && !options.isoTimestamps && !options.byteOrderMark &&
            !options.semicolons) {
            Settings meter = settings;
            meter.SlaveId = qint16(slave);
            meter.SaveFileName = fileName;
            ConsoleDownloadView view(console.out, console.err, console.errIsTerminal);
            MeterResult result;
            result.exit = runDownloadJob(link, pump, meter, view, QLocale::system(), &recorder);
            keep(result);
            if (!newest.isEmpty())
                printLine(console.out, newest);
            if (result.exit != ExitDone && !stopped() && !view.reason().isEmpty())
                printLine(console.err, QStringLiteral("meterlink-cli: ") + view.reason());
            else if (!result.reason.isEmpty())
                printLine(console.err, QStringLiteral("meterlink-cli: ") + result.reason);
            // After a success the tooltip's text is the logger's warning, if any.
            if (result.exit == ExitDone && !view.reason().isEmpty())
                printLine(console.out, view.reason());
            return result.exit;
        }
        ConsoleDownloadView view(several ? static_cast<QIODevice&>(quiet) : console.out,
                                 console.err, console.errIsTerminal);
        Collector collector(link, pump, settings, options, view, started);
        MeterResult result = options.append ? collector.append(slave, fileName, &recorder)
                                            : collector.whole(slave, fileName, &recorder);
        view.finishProgress();
        keep(result);
        if (rank(result.exit) < rank(status))
            status = result.exit;
        if (stopped())
            break; // the runner says so; a meter done before the stop keeps its file
        if (several)
            printLine(
                console.out,
                QStringLiteral("slave %1: %2").arg(slave).arg(result.outcome) +
                    (newest.isEmpty() ? QString() : QStringLiteral(", ") + newest) +
                    (result.warning.isEmpty() ? QString() : QStringLiteral(". ") + result.warning));
        else {
            if (!newest.isEmpty())
                printLine(console.out, newest);
            if (!result.warning.isEmpty())
                printLine(console.out, result.warning);
        }
        if (!result.reason.isEmpty())
            printLine(
                console.err,
                several
                    ? QStringLiteral("meterlink-cli: slave %1: %2").arg(slave).arg(result.reason)
                    : QStringLiteral("meterlink-cli: ") + result.reason);
    }
    return status;
}

} // namespace meterlink
