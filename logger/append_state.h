#pragma once

#include "logger/record_decoder.h"

#include <QByteArray>
#include <QChar>
#include <QString>

#include <array>
#include <optional>

namespace meterlink {

class GridModel;

// How a CSV file's bytes were made: an append writes its rows the same way, whatever the
// environment of the later run (LANG, LC_TIME, none at all under cron).
struct CsvForm {
    bool isoTimestamps = false;
    QString localeName;  // whose digits and day-period texts the timestamps use
    QString datePattern; // QLocale patterns of the locale form; empty for ISO
    QString timePattern;
    bool byteOrderMark = false;
    QString encoding = QStringLiteral("utf-8"); // or "code-page": the system's 8-bit one
    QChar fieldSeparator = QLatin1Char(',');
    QChar decimalMark = QLatin1Char('.');

    bool operator==(const CsvForm& other) const;
    bool operator!=(const CsvForm& other) const { return !(*this == other); }
};

// A decoder that writes the timestamps a file of `form` holds: ISO, or the form's patterns
// with `locale`'s digits and day-period texts; a form without patterns keeps the locale's own.
RecordDecoder formDecoder(GridModel& grid, const CsvForm& form, const QLocale& locale);
// The same with the form's own locale.
RecordDecoder formDecoder(GridModel& grid, const CsvForm& form);

// What an appending download remembers beside its CSV file: how far the meter's log was
// read, what identifies that log, and the file as it was left, so that the next run can
// add only the new rows, or see that it must not.
struct AppendState {
    static constexpr int version = 2;

    QString fileName;       // the CSV the rows go to, in the state file's folder
    qint32 logLength = 0;   // T of the last run, in bytes
    QByteArray firstRecord; // the log's first 8 bytes: a restarted log has others
    std::array<QString, 8> channelNames;
    // The block the next run reads from, and where in the CSV the rows it decodes begin:
    // the block that held the last record, or an earlier one when undated records at its
    // start joined the row before it.
    qint32 seamBlock = 0;
    qint64 seamOffset = 0;
    qint64 csvSize = 0;
    QByteArray csvSha256; // 32 bytes
    CsvForm form;
    int readVersion = version; // the version of the text it was read from

    // The 1024-byte block that holds the last record of a log of `logLength` bytes.
    static qint32 lastBlock(qint32 logLength);

    // Ends with a checksum over its own lines.
    QByteArray toText() const;
    // The file's bytes are taken as untrusted: anything not written by toText() (of this
    // version, or of version 1, which is upgraded) gives no state and `why` says what is
    // wrong.
    static std::optional<AppendState> parse(const QByteArray& text, QString* why);
};

// The form a run's environment writes a new file in: ISO or the locale's timestamps, the
// locale being the one that sets the time formats (LC_ALL, then LC_TIME, then LANG).
CsvForm environmentCsvForm(bool isoTimestamps, bool byteOrderMark);

} // namespace meterlink
