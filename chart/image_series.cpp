#include "chart/image_series.h"

#include "logger/log_image.h"

#include <QDir>
#include <QFile>

namespace meterlink {

CsvSeries readChartFile(const QString& path, const QLocale& locale, const std::atomic<bool>* cancel,
                        qint64 maxCsvBytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(LogImage::magic.size()) != LogImage::magic)
        return readCsvSeries(path, locale, cancel, maxCsvBytes);
    file.close();
    CsvSeries result;
    QString why;
    const auto image = readLogImage(path, &why);
    // ISO timestamps leave the chart no date order to guess.
    const auto csv = image ? image->csv(QLocale::c(), true, false, &why) : std::nullopt;
    if (!csv) {
        result.error = image ? QStringLiteral("%1 cannot be decoded: %2")
                                   .arg(QDir::toNativeSeparators(path), why)
                             : why;
        return result;
    }
    return csvSeriesFromBytes(*csv, QDir::toNativeSeparators(path), locale, cancel);
}

} // namespace meterlink
