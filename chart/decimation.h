#pragma once

#include <QPointF>

#include <cstddef>
#include <vector>

namespace meterlink {

// The points of one unbroken run (times ascending) to draw across `columns` pixel columns
// that span the times [from, to]. With more points than the columns can show, each column
// keeps its lowest and highest point, in time order, so a spike of one sample is never
// hidden; the line from one column to the next is then a pixel's step at most. One point
// either side of the span keeps the line running to the plot's edges.
std::vector<QPointF> decimateMinMax(const double* times, const double* values, std::size_t count,
                                    double from, double to, int columns);

} // namespace meterlink
