#pragma once

#include "chart/chart_data.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <atomic>

namespace meterlink {

// Files larger than this are refused: reading one would take the memory of several copies.
constexpr qint64 maxChartFileBytes = 200LL * 1024 * 1024;

struct CsvSeries {
    ChartData data;
    // Why nothing can be shown (not a log, too big, unreadable); empty when data is good.
    QString error;
};

// A CSV file of downloaded records as meterlink writes it, from this PC or another: a
// heading line (optional), then a timestamp and one reading per channel on each line.
// RFC 4180 quoting, a UTF-8 or UTF-16 byte-order mark and Latin-1 text are read. Stops
// early with an error when `cancel` becomes true.
CsvSeries readCsvSeries(const QString& path, const QLocale& locale = QLocale(),
                        const std::atomic<bool>* cancel = nullptr,
                        qint64 maxBytes = maxChartFileBytes);
CsvSeries csvSeriesFromBytes(QByteArray bytes, const QString& shownName,
                             const QLocale& locale = QLocale(),
                             const std::atomic<bool>* cancel = nullptr);

} // namespace meterlink
