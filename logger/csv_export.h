#pragma once

#include "logger/channel_flags.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <optional>

namespace meterlink {

class GridModel;

// An 8-bit code page: the bytes of a text, or nothing when a character has no byte there.
using CodePage = std::function<std::optional<QByteArray>(const QString&)>;

// The code page a CSV file is written in where spreadsheets expect one: Windows' ANSI code
// page there, none elsewhere.
CodePage systemCsvCodePage();

// The bytes of a whole CSV file. Without a code page UTF-8, no byte-order mark. With one,
// its bytes when it holds every character of the file, else UTF-8 behind a byte-order mark
// (what Windows spreadsheets recognise). Plain ASCII comes out the same every way.
QByteArray csvFileBytes(const QString& text, const CodePage& codePage);

// The file's form: fields apart by commas with "." in readings (the window's, and every
// file before), or by semicolons with "," in readings, which spreadsheets in decimal-comma
// locales open as numbers.
enum class CsvDialect { Comma, Semicolon };

// A field as the file holds it: in double quotes, inner ones doubled, when it holds the
// separator, a double quote, CR or LF; else unchanged.
QString csvField(const QString& text, QChar separator = u',');

// Writes grid rows 1..LastGridRow to a CSV file (comma-separated unless told otherwise):
// the timestamp, then the column of each channel in use, one line each ended by CR LF.
class CsvExport {
public:
    explicit CsvExport(CodePage codePage = systemCsvCodePage()) : codePage_(std::move(codePage)) {}

    void setDialect(CsvDialect dialect) { dialect_ = dialect; }

    // Whether the whole file was written and committed; a failure leaves any earlier file
    // of that name as it was.
    bool ExportCsv(const GridModel& grid, qint32 LastGridRow, const ChannelFlags& ChannelInUse,
                   const QString& fileName);

    // The bytes ExportCsv writes for these rows.
    QByteArray fileBytes(const GridModel& grid, qint32 LastGridRow,
                         const ChannelFlags& ChannelInUse) const;

    // Which file and what the system said, after a result of 0.
    const QString& failureReason() const { return failureReason_; }

private:
    CodePage codePage_;
    CsvDialect dialect_ = CsvDialect::Comma;
    QString failureReason_;
};

// Writes a file whole (QSaveFile) or leaves any earlier one as it was; `why` names the file
// and what the system said.
bool writeFileWhole(const QString& path, const QByteArray& bytes, QString* why);

// Writes every byte: a short write (the disk filled up) is followed by another, whose
// failure gives the device the system's reason instead of none.
bool writeEveryByte(QIODevice& device, const QByteArray& bytes);

} // namespace meterlink
