#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <vector>

namespace meterlink {

// One channel against time. Times are milliseconds since the epoch (local time), ascending;
// a run of points without a gap starts at each index of segmentStarts (the first is 0).
struct ChannelSeries {
    QString name;
    std::vector<double> times;
    std::vector<double> values;
    std::vector<std::size_t> segmentStarts;

    // [first, last) of segment s.
    std::size_t segmentEnd(std::size_t s) const {
        return s + 1 < segmentStarts.size() ? segmentStarts[s + 1] : times.size();
    }
};

// What could not be drawn, counted so the chart can say so.
struct LeftOut {
    int limitValues = 0;    // the meter's +-1E+37 out-of-range markers
    int notNumbers = 0;     // readings that are texts
    int undatedRows = 0;    // rows whose timestamp had no date, or did not convert
    int extraFieldRows = 0; // rows with more fields than the header (extras ignored)
    int shortRows = 0;      // rows with fewer fields than the header
    int repeatedTimes = 0;  // rows with the same timestamp as the row before (kept)
    int yearsAdvanced = 0;  // times the date went backwards and the year was advanced

    int pointsLeftOut() const { return limitValues + notNumbers; }
    bool any() const {
        return limitValues || notNumbers || undatedRows || extraFieldRows || shortRows ||
               repeatedTimes || yearsAdvanced;
    }
    // One sentence for the note under the chart; empty when nothing was left out.
    QString text() const;
};

struct ChartData {
    std::vector<ChannelSeries> channels;
    LeftOut leftOut;
    int rows = 0; // dated rows read
    // Which date order was taken, when a file read alike both ways; empty otherwise.
    QString dateOrder;
    bool empty() const;
    // The note under the chart: what was left out, and the date order when it was a choice.
    QString note() const;
};

} // namespace meterlink
