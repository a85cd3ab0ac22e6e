#include "cli/log_image_run.h"

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/exit_codes.h"
#include "logger/log_image.h"
#include "logger/newest_record.h"

#include <QDir>
#include <QLocale>
#include <QSaveFile>

namespace meterlink {

namespace {

void printLine(QIODevice& device, const QString& line) {
    device.write(line.toUtf8() + '\n');
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
        image->csv(QLocale::system(), options.isoTimestamps, options.byteOrderMark, &why);
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

QString newestRecordNote(const LogImage& image, const QDateTime& now) {
    const auto moment = newestRecord(image);
    return moment ? newestRecordText(*moment, now) : QString();
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
