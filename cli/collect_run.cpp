#include "cli/collect_run.h"

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/console_download_view.h"
#include "cli/download_job.h"
#include "cli/exit_codes.h"
#include "cli/log_image_run.h"
#include "logger/append_state.h"
#include "logger/csv_export.h"
#include "logger/download_log.h"
#include "logger/grid_model.h"
#include "logger/log_image.h"
#include "logger/log_tail_reader.h"
#include "logger/record_decoder.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <optional>

namespace meterlink {

namespace {

const QByteArray byteOrderMark = "\xEF\xBB\xBF";

struct MeterResult {
    int exit = ExitDone;
    QString outcome; // the status text, or what happened instead
    QString reason;  // why it failed, for stderr
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
    default:
        return 5;
    }
}

// The CSV writer's bytes for grid rows 1..lastRow, taken from a scratch file, so that an
// appended file is made by exactly the code that makes a whole one.
std::optional<QByteArray> csvBytes(const GridModel& grid, qint32 lastRow, const ChannelFlags& flags,
                                   QString* why) {
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        *why = QStringLiteral("No temporary folder: %1").arg(scratch.errorString());
        return std::nullopt;
    }
    const QString path = scratch.filePath(QStringLiteral("rows.csv"));
    CsvExport writer;
    if (writer.ExportCsv(grid, lastRow, flags, path) != -1) {
        *why = writer.failureReason();
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return std::nullopt;
    }
    return file.readAll();
}

bool writeWhole(const QString& path, const QByteArray& bytes, QString* why) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *why = QStringLiteral("Cannot write %1: %2")
               .arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}

class Collector {
public:
    Collector(ModbusLink& link, EventPump& pump, const Settings& settings,
              const CliOptions& options, ConsoleDownloadView& view)
        : link_(link), pump_(pump), settings_(settings), options_(options), view_(view) {}

    MeterResult whole(int slave, const QString& fileName, LogAnswerSink* sink);
    MeterResult append(int slave, const QString& fileName, LogAnswerSink* sink);

private:
    MeterResult fail(int exit, const QString& status, const QString& reason) {
        view_.setStatusText(status);
        return {exit, status, reason};
    }
    // A stop is no failure of the meter; the runner reports it.
    QString downloadFailedText() const {
        return link_.aborted() ? QStringLiteral("Download stopped")
                               : QStringLiteral("Error in Downloading!!");
    }
    QString localeName() const {
        return options_.isoTimestamps ? QString() : QLocale::system().name();
    }

    ModbusLink& link_;
    EventPump& pump_;
    const Settings& settings_;
    const CliOptions& options_;
    ConsoleDownloadView& view_;
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
    switch (download.run()) {
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
    auto bytes = csvBytes(grid, download.LastGridRow(), download.channelFlags(), &why);
    if (!bytes ||
        !writeWhole(fileName, options_.byteOrderMark ? byteOrderMark + *bytes : *bytes, &why))
        return fail(ExitFileNotWritten, QStringLiteral("Error putting into file!!"), why);
    view_.setStatusText(QStringLiteral("Finished. Data in File"));
    return {ExitDone, QStringLiteral("Finished. Data in File %1").arg(fileName), QString()};
}

MeterResult Collector::append(int slave, const QString& fileName, LogAnswerSink* sink) {
    const QString statePath = fileName + QStringLiteral(".state");
    const QString startOver =
        QStringLiteral("to start over, move %1 and its CSV aside (or delete them) and run again")
            .arg(statePath);
    std::optional<AppendState> state;
    QByteArray csv;
    QString target = fileName;
    if (QFile::exists(statePath)) {
        QFile file(statePath);
        QString why;
        if (!file.open(QIODevice::ReadOnly))
            why = file.errorString();
        else
            state = AppendState::parse(file.read(64 * 1024), &why);
        if (!state)
            return fail(ExitFileNotWritten, QStringLiteral("Not appended"),
                        QStringLiteral("Cannot use %1: %2; %3").arg(statePath, why, startOver));
        target = QFileInfo(statePath).dir().filePath(state->fileName);
        QFile old(target);
        if (old.open(QIODevice::ReadOnly))
            csv = old.readAll();
        if (!old.isOpen() || csv.size() != state->csvSize ||
            QCryptographicHash::hash(csv, QCryptographicHash::Sha256) != state->csvSha256)
            return fail(ExitFileNotWritten, QStringLiteral("Not appended"),
                        QStringLiteral("%1 is not as the last run left it (edited, written by "
                                       "another download, or that run was interrupted before "
                                       "it saved its state); %2")
                            .arg(target, startOver));
        if (state->isoTimestamps != options_.isoTimestamps ||
            state->byteOrderMark != options_.byteOrderMark || state->locale != localeName())
            return fail(ExitFileNotWritten, QStringLiteral("Not appended"),
                        QStringLiteral("%1 was written with other --timestamps, --bom or locale "
                                       "settings; use those again, or %2")
                            .arg(target, startOver));
    }

    if (!state && QFile::exists(fileName))
        // Whatever made it (the window, a download without --append), its rows may be all
        // that is left of a log since cleared: never replaced by a guess.
        return fail(ExitFileNotWritten, QStringLiteral("Not appended"),
                    QStringLiteral("%1 exists but has no state file %2, so what it holds is "
                                   "unknown; to start appending, move it aside (or delete it) "
                                   "and run again")
                        .arg(fileName, statePath));

    LinkSession session(link_);
    view_.setStatusText(QStringLiteral("Downloading"));
    LogTailReader reader(link_, pump_, slave, view_);
    reader.setAnswerSink(sink);
    LogTailReader::Head head;
    if (!reader.readHead(head))
        return fail(ExitLinkFailed, downloadFailedText(), reader.failureReason());
    if (head.logLength == 0)
        return fail(ExitEmptyLog, QStringLiteral("0 Records Available"), QString());

    QString restartNote;
    if (state) {
        const bool restarted = head.logLength < state->logLength ||
                               head.firstRecord != state->firstRecord ||
                               head.names != state->channelNames;
        if (restarted) {
            restartNote = QStringLiteral("the meter's log was cleared or restarted since the last "
                                         "run (%1 bytes then, %2 now, or another first record "
                                         "or channel names)")
                              .arg(state->logLength)
                              .arg(head.logLength);
            if (options_.failOnRestart)
                return fail(ExitLogRestarted, QStringLiteral("Log restarted"),
                            restartNote + QStringLiteral("; nothing written (--on-restart=fail)"));
            target = freeCounterName(target);
            state.reset();
            csv.clear();
        } else if (head.logLength == state->logLength) {
            view_.setStatusText(QStringLiteral("no new records"));
            return {ExitDone, QStringLiteral("no new records"), QString()};
        }
    }

    GridModel grid;
    LogTailReader::writeHeader(grid, head);
    RecordDecoder decoder(grid, QLocale::system());
    if (options_.isoTimestamps)
        decoder.useIsoTimestamps();
    qint32 lastGridRow = 1;
    qint32 rowsBeforeLastBlock = 1;
    if (!reader.readBlocks(state ? state->seamBlock() : 0, head.logLength, decoder, lastGridRow,
                           rowsBeforeLastBlock))
        return fail(ExitLinkFailed, downloadFailedText(), reader.failureReason());
    view_.setStatusText(QStringLiteral("Completed Download."));
    view_.setProgress(100.0f);

    QString why;
    const auto header = csvBytes(grid, 1, head.channelInUse, &why);
    const auto rows = header ? csvBytes(grid, lastGridRow, head.channelInUse, &why) : std::nullopt;
    const auto beforeLast =
        rows ? csvBytes(grid, rowsBeforeLastBlock, head.channelInUse, &why) : std::nullopt;
    if (!beforeLast)
        return fail(ExitFileNotWritten, QStringLiteral("Error putting into file!!"), why);
    // The rows of the block that held the old end are written again: the block may have
    // gained readings for the row at the seam.
    const QByteArray kept = state
                                ? csv.left(state->seamOffset)
                                : (options_.byteOrderMark ? byteOrderMark : QByteArray()) + *header;
    const QByteArray updated = kept + rows->mid(header->size());

    AppendState next;
    next.fileName = QFileInfo(target).fileName();
    next.logLength = head.logLength;
    next.firstRecord = head.firstRecord;
    next.channelNames = head.names;
    next.seamOffset = kept.size() + (beforeLast->size() - header->size());
    next.csvSize = updated.size();
    next.csvSha256 = QCryptographicHash::hash(updated, QCryptographicHash::Sha256);
    next.isoTimestamps = options_.isoTimestamps;
    next.byteOrderMark = options_.byteOrderMark;
    next.locale = localeName();
    // The file first, its state after it: a run stopped between the two leaves a file whose
    // hash the old state does not match, and the next run says so instead of guessing.
    if (!writeWhole(target, updated, &why))
        return fail(ExitFileNotWritten, QStringLiteral("Error putting into file!!"), why);
    if (!writeWhole(statePath, next.toText(), &why))
        return fail(ExitFileNotWritten, QStringLiteral("Error putting into file!!"),
                    why + QStringLiteral(" (the CSV was written; the next --append will refuse "
                                         "it until you start over)"));
    view_.setStatusText(QStringLiteral("Finished. Data in File"));
    return {ExitDone,
            QStringLiteral("Finished. Data in File %1 (%2 of %3 log blocks read)")
                .arg(target)
                .arg(reader.blocksRead())
                .arg((head.logLength + DownloadLog::blockBytes - 1) / DownloadLog::blockBytes),
            restartNote};
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

QString freeCounterName(const QString& path) {
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString base = info.suffix().isEmpty()
                             ? info.fileName()
                             : info.fileName().left(info.fileName().size() - suffix.size());
    for (int n = 2;; ++n) {
        const QString candidate =
            info.dir().filePath(QStringLiteral("%1-%2%3").arg(base).arg(n).arg(suffix));
        if (!QFile::exists(candidate) && !QFile::exists(candidate + QStringLiteral(".state")))
            return info.dir() == QDir(QStringLiteral(".")) ? QFileInfo(candidate).fileName()
                                                           : candidate;
    }
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
            if (result.exit != ExitDone)
                return;
            const KeptDownload kept = keepDownload(
                link, image, options, slave, settings.BaudText.toInt(), fileName, started, now());
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
        if (!several && !options.append && !options.isoTimestamps && !options.byteOrderMark) {
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
            return result.exit;
        }
        ConsoleDownloadView view(several ? static_cast<QIODevice&>(quiet) : console.out,
                                 console.err, console.errIsTerminal);
        Collector collector(link, pump, settings, options, view);
        MeterResult result = options.append ? collector.append(slave, fileName, &recorder)
                                            : collector.whole(slave, fileName, &recorder);
        view.finishProgress();
        keep(result);
        if (rank(result.exit) < rank(status))
            status = result.exit;
        if (stopped())
            break; // the runner says so; a meter done before the stop keeps its file
        if (several)
            printLine(console.out,
                      QStringLiteral("slave %1: %2").arg(slave).arg(result.outcome) +
                          (newest.isEmpty() ? QString() : QStringLiteral(", ") + newest));
        else if (!newest.isEmpty())
            printLine(console.out, newest);
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
