#pragma once

#include <QPointF>

#include <cstddef>
#include <vector>

namespace meterlink {

// The points of one unbroken run (times ascending) to draw across `columns` pixel columns
// that span the times [from, to]. With more points than the columns can show, each column
// keeps its first, lowest, highest and last point in time order, so a spike of one sample
// is never hidden and the line still joins its neighbours where it did. One point either
// side of the span keeps the line running to the plot's edges.
std::vector<QPointF> decimateMinMax(const double* times, const double* values, std::size_t count,
                                    double from, double to, int columns);

} // namespace meterlink
