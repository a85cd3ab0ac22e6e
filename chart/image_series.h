#pragma once

#include "chart/csv_series.h"

namespace meterlink {

// A file the Chart tab opens: a log image (told by its first bytes, whatever its name),
// decoded as a download of its answers would have written it, or a CSV file.
CsvSeries readChartFile(const QString& path, const QLocale& locale = QLocale(),
                        const std::atomic<bool>* cancel = nullptr,
                        qint64 maxCsvBytes = maxChartFileBytes);

} // namespace meterlink
