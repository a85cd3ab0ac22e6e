#pragma once

#include <QDateTime>
#include <QString>

namespace meterlink {

struct CliOptions;
struct Console;
struct LogImage;
class ModbusLink;

// `decode IMAGE --out FILE`: the CSV a download of the image's answers would have written
// with these options, in this PC's locale. Returns the exit status.
int runDecode(const CliOptions& options, Console& console);

// What a download that wrote its CSV keeps besides: the image when --image asks for it,
// and the newest record's time and age for the outcome. `wholeLog` says an append wrote
// the whole log (a first run, a restarted log, a file not as left): its image is whole too.
struct KeptDownload {
    QString newest;     // empty when there is no dated record
    QString note;       // for stderr: the image cannot be decoded whole
    QString imageError; // the image was not written, and why
};
KeptDownload keepDownload(ModbusLink& link, LogImage& image, const CliOptions& options, int slave,
                          qint32 baud, const QString& csvAsked, const QDateTime& started,
                          const QDateTime& now, bool wholeLog = false);

// What a finished download adds to its outcome: the newest record's time and age against
// `now`; empty when there is no dated record. When the answers hold no log block (an append
// that found no new records), the last record the state block points at is read.
QString newestRecordNote(ModbusLink& link, const LogImage& image, const QDateTime& now);

// The image an append keeps: named after the CSV the run wrote (a restarted log's new CSV,
// NAME-2.csv, gets IMAGE-2 likewise), the blocks read now laid over those the image already
// held. `note` says when the image cannot be decoded whole (no earlier image to build on).
QString appendImagePath(const QString& imagePath, const QString& csvAsked,
                        const QString& csvWritten);
void addEarlierBlocks(LogImage& image, const QString& path, QString* note);

// Completes the image with what the answers do not say and writes it whole to `path`.
bool saveDownloadImage(LogImage& image, const QString& path, int slave, qint32 baud,
                       const QDateTime& now, QString* why);

} // namespace meterlink
