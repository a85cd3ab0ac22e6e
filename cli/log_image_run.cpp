#include "cli/log_image_run.h"

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/collect_run.h"
#include "cli/exit_codes.h"
#include "logger/append_state.h"
#include "logger/download_log.h"
#include "logger/log_image.h"
#include "logger/newest_record.h"
#include "logger/record_decoder.h"
#include "modbus/meter_registers.h"
#include "modbus/modbus_link.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>

namespace meterlink {

namespace {

void printLine(QIODevice& device, const QString& line) {
    device.write(line.toUtf8() + '\n');
}

// The CSV an append wrote: its state file names it (another after a restarted log).
QString appendedCsv(const QString& csvAsked) {
    QFile file(csvAsked + QStringLiteral(".state"));
    QString why;
    const auto state = file.open(QIODevice::ReadOnly)
                           ? AppendState::parse(file.read(64 * 1024), &why)
                           : std::nullopt;
    return state ? QFileInfo(csvAsked).dir().filePath(state->fileName) : csvAsked;
}

} // namespace

int runDecode(const CliOptions& options, Console& console) {
    QString why;
    const auto image = readLogImage(options.imageIn, &why);
    if (!image) {
        printLine(console.err, QStringLiteral("meterlink-cli: ") + why);
        return ExitBadImage;
    }
    const QString out = options.outPath.value_or(QString());
    const auto csv =
        image->csv(QLocale::system(), options.isoTimestamps, options.byteOrderMark, &why,
                   options.semicolons ? CsvDialect::Semicolon : CsvDialect::Comma);
    if (!csv) {
        printLine(console.err, QStringLiteral("meterlink-cli: %1 cannot be decoded: %2")
                                   .arg(QDir::toNativeSeparators(options.imageIn), why));
        return ExitBadImage;
    }
    QSaveFile file(out);
    if (!file.open(QIODevice::WriteOnly) || file.write(*csv) != csv->size() || !file.commit()) {
        printLine(console.err, QStringLiteral("meterlink-cli: Cannot write %1: %2")
                                   .arg(QDir::toNativeSeparators(out), file.errorString()));
        return ExitFileNotWritten;
    }
    printLine(console.out,
              QStringLiteral("Finished. Data in File %1 (from the image of slave %2 read %3 by "
                             "meterlink %4)")
                  .arg(out)
                  .arg(image->slave)
                  .arg(image->readAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                       image->madeBy));
    return ExitDone;
}

QString newestRecordNote(ModbusLink& link, const LogImage& image, const QDateTime& now) {
    auto moment = newestRecord(image);
    QString why;
    const auto length = image.logLength(&why);
    if (!moment && image.logBlocks.empty() && length && *length > 0) {
        // The 256-byte page that holds the last record, up to its end.
        const qint32 last = *length - RecordDecoder::recordSize;
        const int bytes = last % 256 + RecordDecoder::recordSize;
        LinkSession session(link);
        const LinkAnswer answer =
            session.ReadLogBlock(image.slave, meter::FirstLogBank + last / DownloadLog::bankBytes,
                                 128 + last % DownloadLog::bankBytes / 256, 0, (bytes + 1) / 2);
        if (answer)
            moment = newestRecord(answer.data.left(bytes));
    }
    return moment ? newestRecordText(*moment, now) : QString();
}

QString appendImagePath(const QString& imagePath, const QString& csvAsked,
                        const QString& csvWritten) {
    const auto base = [](const QFileInfo& info) {
        return info.suffix().isEmpty() ? info.fileName()
                                       : info.fileName().chopped(info.suffix().size() + 1);
    };
    const QFileInfo asked(csvAsked);
    const QFileInfo written(csvWritten);
    const QString counter = base(written).mid(base(asked).size());
    if (asked.fileName() == written.fileName() || !base(written).startsWith(base(asked)))
        return imagePath;
    const QFileInfo image(imagePath);
    const QString name = base(image) + counter +
                         (image.suffix().isEmpty() ? QString() : QLatin1Char('.') + image.suffix());
    return image.path() == QLatin1String(".") ? name : image.dir().filePath(name);
}

void addEarlierBlocks(LogImage& image, const QString& path, QString* note) {
    QString why;
    const auto earlier = QFile::exists(path) ? readLogImage(path, &why) : std::nullopt;
    // Another log's blocks (other channel names) would make a log that never was.
    if (earlier && earlier->channels == image.channels) {
        for (const auto& [offset, data] : earlier->logBlocks)
            image.logBlocks.emplace(offset, data); // a block read now wins
    }
    if (!image.logBytes(&why))
        *note = QStringLiteral("%1 holds only the log blocks read since it was started, so "
                               "it cannot be decoded whole (%2); to keep a whole image, move it "
                               "and the CSV aside and run again")
                    .arg(QDir::toNativeSeparators(path), why);
}

KeptDownload keepDownload(ModbusLink& link, LogImage& image, const CliOptions& options, int slave,
                          qint32 baud, const QString& csvAsked, const QDateTime& started,
                          const QDateTime& now, bool wholeLog) {
    KeptDownload kept;
    QString path =
        options.imagePath ? expandOutName(*options.imagePath, slave, started) : QString();
    if (options.append && !path.isEmpty()) {
        if (image.logBlocks.empty())
            path.clear(); // no new records: the image stands as it is
        else
            path = appendImagePath(path, csvAsked, appendedCsv(csvAsked));
        // An image left beside a new file by someone else is not this log's past.
        if (!path.isEmpty() && !wholeLog)
            addEarlierBlocks(image, path, &kept.note);
    }
    if (!path.isEmpty() && !saveDownloadImage(image, path, slave, baud, now, &kept.imageError))
        return kept;
    image.slave = slave;
    kept.newest = newestRecordNote(link, image, now);
    return kept;
}

bool saveDownloadImage(LogImage& image, const QString& path, int slave, qint32 baud,
                       const QDateTime& now, QString* why) {
    image.readAt = now.toUTC();
    image.slave = slave;
    image.baud = baud;
    image.madeBy = meterlinkVersion();
    return writeLogImage(path, image, why);
}

} // namespace meterlink
