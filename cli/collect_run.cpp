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
#include "logger/log_reader.h"
#include "logger/record_decoder.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

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

// The CSV writer's bytes for grid rows 1..lastRow, so that an appended file is made by
// exactly the code that makes a whole one.
QByteArray csvBytes(const GridModel& grid, qint32 lastRow, const ChannelFlags& flags,
                    const CodePage& codePage, CsvDialect dialect) {
    CsvExport writer(codePage);
    writer.setDialect(dialect);
    return writer.fileBytes(grid, lastRow, flags);
}

bool writeWhole(const QString& path, const QByteArray& bytes, QString* why) {
    QSaveFile file(path);
    // Unbuffered, as the CSV writer: a full disk is then told in the system's words.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && writeEveryByte(file, bytes) &&
        file.commit())
        return true;
    *why = QStringLiteral("Cannot write %1: %2")
               .arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
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
    if (options_.isoTimestamps)
        setIsoYears(grid, 2, download.LastGridRow(), QDate(), now_);
    const QByteArray bytes = csvBytes(grid, download.LastGridRow(), download.channelFlags(),
                                      systemCsvCodePage(), dialect());
    if (!writeWhole(fileName, options_.byteOrderMark ? byteOrderMark + bytes : bytes, &why))
        return fail(ExitFileNotWritten, QStringLiteral("Error putting into file!!"), why);
    view_.setStatusText(QStringLiteral("Finished. Data in File"));
    return {ExitDone, QStringLiteral("Finished. Data in File %1").arg(fileName), QString(),
            download.memoryWarning()};
}

// Why the CSV or its state is not as the last run left them; empty when they are. `state`
// and `csv` are what was read.
QString notAsLeft(const QString& statePath, std::optional<AppendState>& state, QByteArray& csv,
                  QString& target, const CsvForm& asked) {
    const QString stateName = QFileInfo(statePath).fileName();
    QFile file(statePath);
    QString why;
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 cannot be read: %2").arg(stateName, file.errorString());
    state = AppendState::parse(file.read(64 * 1024), &why);
    if (!state)
        return QStringLiteral("%1 cannot be used: %2").arg(stateName, why);
    target = QFileInfo(statePath).dir().filePath(state->fileName);
    const QString name = state->fileName;
    QFile old(target);
    if (!old.exists())
        return QStringLiteral("%1 is missing").arg(name);
    if (!old.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 cannot be read: %2").arg(name, old.errorString());
    csv = old.readAll();
    if (csv.size() != state->csvSize)
        return QStringLiteral("%1 changed since the last run: %2 bytes then, %3 now")
            .arg(name)
            .arg(state->csvSize)
            .arg(csv.size());
    if (QCryptographicHash::hash(csv, QCryptographicHash::Sha256) != state->csvSha256)
        return QStringLiteral("%1 changed since the last run: the same %2 bytes, other contents")
            .arg(name)
            .arg(csv.size());
    if (state->seamOffset < 2 || csv.at(state->seamOffset - 1) != '\n' ||
        csv.at(state->seamOffset - 2) != '\r')
        return QStringLiteral("%1 does not agree with %2: its seam (byte %3) is not at the start "
                              "of a line")
            .arg(stateName, name)
            .arg(state->seamOffset);
    if (state->form.isoTimestamps != asked.isoTimestamps)
        return QStringLiteral("%1 has %2 timestamps and --timestamps %3 was asked for")
            .arg(name, state->form.isoTimestamps ? QStringLiteral("ISO") : QStringLiteral("locale"),
                 asked.isoTimestamps ? QStringLiteral("iso") : QStringLiteral("locale"));
    if (state->form.byteOrderMark != asked.byteOrderMark)
        return QStringLiteral("%1 %2 a byte-order mark and --bom was %3")
            .arg(name,
                 state->form.byteOrderMark ? QStringLiteral("starts with")
                                           : QStringLiteral("has no"),
                 asked.byteOrderMark ? QStringLiteral("given") : QStringLiteral("not given"));
    if (state->form.fieldSeparator != asked.fieldSeparator ||
        state->form.decimalMark != asked.decimalMark)
        return QStringLiteral("%1 has the field separator \"%2\" and decimal mark \"%3\"; this run "
                              "writes \"%4\" and \"%5\"")
            .arg(name, state->form.fieldSeparator, state->form.decimalMark, asked.fieldSeparator,
                 asked.decimalMark);
    return QString();
}

// What tells a restarted log, in words; empty when the log only grew or stayed.
QString restartReason(const AppendState& state, const LogReader::Head& head) {
    QStringList changed;
    if (head.logLength < state.logLength)
        changed << QStringLiteral("its length went from %1 to %2 bytes")
                       .arg(state.logLength)
                       .arg(head.logLength);
    if (head.firstRecord != state.firstRecord)
        changed << QStringLiteral("its first record changed (%1 then, %2 now)")
                       .arg(QString::fromLatin1(state.firstRecord.toHex(' ')),
                            QString::fromLatin1(head.firstRecord.toHex(' ')));
    for (size_t k = 0; k < head.names.size(); ++k)
        if (head.names[k] != state.channelNames[k])
            changed << QStringLiteral("channel %1's name changed (\"%2\" then, \"%3\" now)")
                           .arg(k + 1)
                           .arg(state.channelNames[k], head.names[k]);
    return changed.join(QStringLiteral("; "));
}

// The year of the last dated row before `end` in an ISO file's bytes.
QDate lastIsoDate(const QByteArray& csv, qint64 end) {
    qint64 lineEnd = end - 2; // the CR LF of the line before the seam
    while (lineEnd > 0) {
        const qint64 lineStart = csv.lastIndexOf('\n', lineEnd - 1) + 1;
        const QDate date = isoTimestampDate(
            QString::fromLatin1(csv.mid(lineStart, qMin<qint64>(10, lineEnd - lineStart))));
        if (date.isValid())
            return date;
        lineEnd = lineStart - 2;
    }
    return QDate();
}

MeterResult Collector::append(int slave, const QString& fileName, LogAnswerSink* sink) {
    const QString statePath = fileName + QStringLiteral(".state");
    // The form a new file gets.
    CsvForm asked = environmentCsvForm(options_.isoTimestamps, options_.byteOrderMark);
    if (options_.semicolons) {
        asked.fieldSeparator = QLatin1Char(';');
        asked.decimalMark = QLatin1Char(',');
    }
    std::optional<AppendState> state;
    QByteArray csv;
    QString target = fileName;
    QString mismatch;
    if (QFile::exists(statePath))
        mismatch = notAsLeft(statePath, state, csv, target, asked);
    else if (QFile::exists(fileName))
        // Whatever made it (the window, a download without --append), its rows may be all
        // that is left of a log since cleared: never replaced by a guess.
        mismatch = QStringLiteral("%1 has no state file %2, so what it holds is unknown")
                       .arg(QFileInfo(fileName).fileName(), QFileInfo(statePath).fileName());
    if (!mismatch.isEmpty()) {
        if (options_.failOnMismatch)
            return fail(ExitFileNotWritten, QStringLiteral("Not appended"),
                        mismatch + QStringLiteral("; nothing written (--on-mismatch=fail)"));
        state.reset();
        csv.clear();
    }

    LinkSession session(link_);
    view_.setStatusText(QStringLiteral("Downloading"));
    LogReader reader(link_, slave, view_);
    reader.setAnswerSink(sink);
    LogReader::Head head;
    if (!reader.readHead(head, pump_))
        return fail(ExitLinkFailed, downloadFailedText(), reader.failureReason());
    if (head.logLength == 0)
        return fail(ExitEmptyLog, QStringLiteral("0 Records Available"), QString());

    QString note = mismatch;
    if (state) {
        const QString restarted = restartReason(*state, head);
        if (!restarted.isEmpty()) {
            note = QStringLiteral("the meter's log was cleared or restarted since the last run: ") +
                   restarted;
            if (options_.failOnRestart)
                return fail(ExitLogRestarted, QStringLiteral("Log restarted"),
                            note + QStringLiteral("; nothing written (--on-restart=fail)"));
            state.reset();
            csv.clear();
        } else if (head.logLength == state->logLength) {
            view_.setStatusText(QStringLiteral("no new records"));
            return {ExitDone, QStringLiteral("no new records"), QString(), head.memoryWarning};
        }
    }
    // The file's own form, whatever this run's environment; a new file takes this run's.
    const CsvForm form = state ? state->form : asked;
    const bool newFile = !note.isEmpty();
    if (newFile)
        target = freeCounterName(fileName);

    GridModel grid;
    LogReader::writeHeader(grid, head);
    RecordDecoder decoder(grid, QLocale(form.localeName));
    if (form.isoTimestamps)
        decoder.useIsoTimestamps();
    else
        decoder.useTimestampPatterns(form.datePattern, form.timePattern);
    qint32 lastGridRow = 1;
    LogReader::Seam seam;
    if (!reader.readBlocks(state ? state->seamBlock : 0, head.logLength, decoder, lastGridRow, seam,
                           &pump_))
        return fail(ExitLinkFailed, downloadFailedText(), reader.failureReason());
    view_.setStatusText(QStringLiteral("Completed Download."));
    view_.setProgress(100.0f);
    if (form.isoTimestamps)
        setIsoYears(grid, 2, lastGridRow, state ? lastIsoDate(csv, state->seamOffset) : QDate(),
                    now_);

    QString why;
    const CsvDialect formDialect =
        form.fieldSeparator == QLatin1Char(';') ? CsvDialect::Semicolon : CsvDialect::Comma;
    const CodePage codePage =
        form.encoding == QLatin1String("utf-8") ? CodePage() : systemCsvCodePage();
    const QByteArray header = csvBytes(grid, 1, head.channelInUse, codePage, formDialect);
    const QByteArray rows = csvBytes(grid, lastGridRow, head.channelInUse, codePage, formDialect);
    const QByteArray beforeSeam =
        csvBytes(grid, seam.rowsBefore, head.channelInUse, codePage, formDialect);
    // The rows from the seam block on are written again: the block may have gained
    // readings for the row at the seam.
    const QByteArray kept = state ? csv.left(state->seamOffset)
                                  : (form.byteOrderMark ? byteOrderMark : QByteArray()) + header;
    const QByteArray updated = kept + rows.mid(header.size());

    AppendState next;
    next.fileName = QFileInfo(target).fileName();
    next.logLength = head.logLength;
    next.firstRecord = head.firstRecord;
    next.channelNames = head.names;
    next.seamBlock = seam.block;
    next.seamOffset = kept.size() + (beforeSeam.size() - header.size());
    next.csvSize = updated.size();
    next.csvSha256 = QCryptographicHash::hash(updated, QCryptographicHash::Sha256);
    next.form = form;
    // The file first, its state after it: a run stopped between the two leaves a file whose
    // hash the old state does not match, and the next run writes a new file.
    if (!writeWhole(target, updated, &why))
        return fail(ExitFileNotWritten, QStringLiteral("Error putting into file!!"), why);
    if (!writeWhole(statePath, next.toText(), &why))
        return fail(ExitFileNotWritten, QStringLiteral("Error putting into file!!"),
                    why + QStringLiteral(" (the CSV was written; the next --append will write "
                                         "the whole log to a new file)"));
    const QString blocks =
        QStringLiteral("%1 of %2 log blocks read")
            .arg(reader.blocksRead())
            .arg((head.logLength + DownloadLog::blockBytes - 1) / DownloadLog::blockBytes);
    if (newFile) {
        const QString status = QStringLiteral("Finished. Data in new file %1").arg(target);
        view_.setStatusText(status);
        return {mismatch.isEmpty() ? int(ExitDone) : int(ExitNewFile),
                QStringLiteral("%1 (%2)").arg(status, blocks), note, head.memoryWarning, true};
    }
    view_.setStatusText(QStringLiteral("Finished. Data in File"));
    return {ExitDone, QStringLiteral("Finished. Data in File %1 (%2)").arg(target, blocks),
            QString(), head.memoryWarning, !state};
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
