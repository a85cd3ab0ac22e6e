#include "chart/grid_series.h"

#include "chart/series_builder.h"
#include "logger/grid_model.h"

namespace meterlink {

namespace {

constexpr int firstRecordRow = 2;
constexpr int sampleRows = 200;

} // namespace

ChartData seriesFromGrid(const GridModel& grid, qint32 lastGridRow, const ChannelFlags& inUse,
                         const QLocale& locale) {
    QStringList names;
    std::vector<int> columns;
    for (int k = 1; k <= channelCount; ++k) {
        if (!inUse[size_t(k)])
            continue;
        const QString heading = grid.TextMatrix(1, 2 + int(names.size())).trimmed();
        names << (heading.isEmpty() ? QStringLiteral("Channel #%1").arg(k) : heading);
        columns.push_back(k + 1);
    }

    TimestampReader reader(locale);
    QStringList samples;
    for (int row = firstRecordRow; row <= lastGridRow && samples.size() < sampleRows; ++row)
        samples << grid.TextMatrix(row, 1);
    reader.detect(samples);

    SeriesBuilder builder(names, reader);
    for (int row = firstRecordRow; row <= lastGridRow; ++row) {
        if (!builder.beginRow(grid.TextMatrix(row, 1), int(columns.size())))
            continue;
        for (int i = 0; i < int(columns.size()); ++i)
            builder.addReading(i, grid.TextMatrix(row, columns[size_t(i)]));
    }
    return builder.finish();
}

} // namespace meterlink
