#pragma once

#include "chart/chart_data.h"
#include "logger/channel_flags.h"

#include <QLocale>

namespace meterlink {

class GridModel;

// The download's channels against time, read from the grid rows 2..lastGridRow. Channel k
// in use takes its readings from column k + 1 and its name from the headings, which stand
// in channel order from column 2.
ChartData seriesFromGrid(const GridModel& grid, qint32 lastGridRow, const ChannelFlags& inUse,
                         const QLocale& locale = QLocale());

} // namespace meterlink
