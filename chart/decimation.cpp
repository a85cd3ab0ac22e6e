#include "chart/decimation.h"

#include <algorithm>

namespace meterlink {

std::vector<QPointF> decimateMinMax(const double* times, const double* values, std::size_t count,
                                    double from, double to, int columns) {
    std::vector<QPointF> points;
    if (count == 0 || to < from)
        return points;
    std::size_t first = std::size_t(std::lower_bound(times, times + count, from) - times);
    std::size_t last = std::size_t(std::upper_bound(times, times + count, to) - times);
    if (first > 0)
        --first;
    if (last < count)
        ++last;
    const std::size_t shown = last - first;
    columns = std::max(columns, 1);
    if (shown <= std::size_t(columns) * 2 || to <= from) {
        points.reserve(shown);
        for (std::size_t i = first; i < last; ++i)
            points.emplace_back(times[i], values[i]);
        return points;
    }

    points.reserve(std::size_t(columns) * 2 + 4);
    const double width = (to - from) / columns;
    auto columnOf = [&](double t) {
        if (t < from)
            return -1;
        if (t > to)
            return columns;
        return std::min(int((t - from) / width), columns - 1);
    };
    std::size_t i = first;
    while (i < last) {
        const int column = columnOf(times[i]);
        const std::size_t start = i;
        std::size_t low = i, high = i;
        while (i < last && columnOf(times[i]) == column) {
            if (values[i] < values[low])
                low = i;
            if (values[i] > values[high])
                high = i;
            ++i;
        }
        // The points outside the span only lead the line to the edge: one is enough.
        if (column < 0 || column >= columns) {
            const std::size_t edge = column < 0 ? i - 1 : start;
            points.emplace_back(times[edge], values[edge]);
            continue;
        }
        points.emplace_back(times[std::min(low, high)], values[std::min(low, high)]);
        if (low != high)
            points.emplace_back(times[std::max(low, high)], values[std::max(low, high)]);
    }
    return points;
}

} // namespace meterlink
