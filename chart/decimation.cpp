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
    if (shown <= std::size_t(columns) * 4 || to <= from) {
        points.reserve(shown);
        for (std::size_t i = first; i < last; ++i)
            points.emplace_back(times[i], values[i]);
        return points;
    }

    points.reserve(std::size_t(columns) * 4 + 2);
    const double width = (to - from) / columns;
    auto columnOf = [&](double t) {
        if (t < from)
            return -1;
        if (t >= to)
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
        const std::size_t end = i - 1;
        std::size_t keep[4] = {start, std::min(low, high), std::max(low, high), end};
        std::size_t previous = count; // none
        for (std::size_t k : keep) {
            if (k != previous)
                points.emplace_back(times[k], values[k]);
            previous = k;
        }
    }
    return points;
}

} // namespace meterlink
