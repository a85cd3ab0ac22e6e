#include "logger/log_append.h"

#include "logger/csv_export.h"
#include "logger/download_view.h"
#include "logger/grid_model.h"
#include "logger/log_reader.h"
#include "logger/logger_memory.h"
#include "logger/record_decoder.h"
#include "modbus/modbus_link.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <optional>

namespace meterlink {

namespace {

const QByteArray byteOrderMark = "\xEF\xBB\xBF";

// The CSV writer's bytes for grid rows 1..lastRow, so that an appended file is made by
// exactly the code that makes a whole one.
QByteArray csvBytes(const GridModel& grid, qint32 lastRow, const ChannelFlags& flags,
                    const CsvForm& form) {
    CsvExport writer(form.encoding == QLatin1String("utf-8") ? CodePage() : systemCsvCodePage());
    writer.setDialect(form.fieldSeparator == QLatin1Char(';') ? CsvDialect::Semicolon
                                                              : CsvDialect::Comma);
    return writer.fileBytes(grid, lastRow, flags);
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

} // namespace

LogAppend::LogAppend(ModbusLink& link, EventPump& pump, DownloadView& view, DownloadPanel& panel)
    : link_(link), pump_(pump), view_(view), panel_(panel) {}

AppendOutcome LogAppend::fail(AppendOutcome::Kind kind, const QString& status,
                              const QString& reason) {
    view_.setStatusText(status);
    AppendOutcome outcome;
    outcome.kind = kind;
    outcome.summary = status;
    outcome.reason = reason;
    return outcome;
}

// A stop is no failure of the meter; the caller reports it.
QString LogAppend::readFailedText(const LogReader& reader) {
    return reader.stopped() ? QStringLiteral("Download stopped")
                            : QStringLiteral("Error in Downloading!!");
}

AppendOutcome LogAppend::run(int slave, const QString& fileName, const AppendRules& rules,
                             const QDateTime& now) {
    const QString statePath = fileName + QStringLiteral(".state");
    const CsvForm& asked = rules.newFileForm;
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
        if (rules.failOnMismatch)
            return fail(AppendOutcome::NotAsLeft, QStringLiteral("Not appended"), mismatch);
        state.reset();
        csv.clear();
    }

    // A stop aborts the session: its later transactions fail at once.
    LinkSession session(link_);
    view_.setStatusText(QStringLiteral("Downloading"));
    LogReader reader(session, slave, panel_);
    reader.setAnswerSink(sink_);
    LogReader::Head head;
    if (!reader.readHead(head, pump_))
        return fail(AppendOutcome::ReadFailed, readFailedText(reader), reader.failureReason());
    if (head.logLength == 0)
        return fail(AppendOutcome::EmptyLog, QStringLiteral("0 Records Available"), QString());

    QString note = mismatch;
    if (state) {
        const QString restarted = restartReason(*state, head);
        if (!restarted.isEmpty()) {
            note = QStringLiteral("the meter's log was cleared or restarted since the last run: ") +
                   restarted;
            if (rules.failOnRestart)
                return fail(AppendOutcome::Restarted, QStringLiteral("Log restarted"), note);
            state.reset();
            csv.clear();
        } else if (head.logLength == state->logLength) {
            AppendOutcome outcome =
                fail(AppendOutcome::NoNewRecords, QStringLiteral("no new records"), QString());
            outcome.warning = head.memoryWarning;
            return outcome;
        }
    }
    // The file's own form, whatever this run's environment; a new file takes this run's.
    const CsvForm form = state ? state->form : asked;
    const bool newFile = !note.isEmpty();
    if (newFile)
        target = freeCounterName(fileName);

    GridModel grid;
    LogReader::writeHeader(grid, head);
    RecordDecoder decoder = formDecoder(grid, form);
    qint32 lastGridRow = 1;
    LogReader::Seam seam;
    if (!reader.readBlocks(state ? state->seamBlock : 0, head.logLength, decoder, lastGridRow, seam,
                           &pump_))
        return fail(AppendOutcome::ReadFailed, readFailedText(reader), reader.failureReason());
    view_.setStatusText(QStringLiteral("Completed Download."));
    view_.setProgress(100.0f);
    if (form.isoTimestamps)
        setIsoYears(grid, 2, lastGridRow, state ? lastIsoDate(csv, state->seamOffset) : QDate(),
                    now);

    const QByteArray header = csvBytes(grid, 1, head.channelInUse, form);
    const QByteArray rows = csvBytes(grid, lastGridRow, head.channelInUse, form);
    const QByteArray beforeSeam = csvBytes(grid, seam.rowsBefore, head.channelInUse, form);
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
    QString why;
    if (!writeFileWhole(target, updated, &why))
        return fail(AppendOutcome::NotWritten, QStringLiteral("Error putting into file!!"), why);
    if (!writeFileWhole(statePath, next.toText(), &why))
        return fail(AppendOutcome::NotWritten, QStringLiteral("Error putting into file!!"),
                    why + QStringLiteral(" (the CSV was written; the next --append will write "
                                         "the whole log to a new file)"));
    const QString blocks =
        QStringLiteral("%1 of %2 log blocks read")
            .arg(reader.blocksRead())
            .arg((head.logLength + logger_memory::blockBytes - 1) / logger_memory::blockBytes);
    AppendOutcome outcome;
    outcome.warning = head.memoryWarning;
    if (newFile) {
        const QString status = QStringLiteral("Finished. Data in new file %1").arg(target);
        view_.setStatusText(status);
        outcome.kind = mismatch.isEmpty() ? AppendOutcome::NewFileAfterRestart
                                          : AppendOutcome::NewFileNotAsLeft;
        outcome.summary = QStringLiteral("%1 (%2)").arg(status, blocks);
        outcome.reason = note;
        outcome.wholeLog = true;
        return outcome;
    }
    view_.setStatusText(QStringLiteral("Finished. Data in File"));
    outcome.kind = AppendOutcome::Appended;
    outcome.summary = QStringLiteral("Finished. Data in File %1 (%2)").arg(target, blocks);
    outcome.wholeLog = !state;
    return outcome;
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

} // namespace meterlink
