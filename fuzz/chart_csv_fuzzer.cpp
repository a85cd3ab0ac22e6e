// Arbitrary bytes as a CSV opened on the Chart tab: either refused with a reason, or read
// into series whose times ascend, whose points are finite, and whose segments lie inside.

#include "chart/csv_series.h"
#include "fuzz/fuzz_check.h"

#include <cmath>

using namespace meterlink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    const CsvSeries read = csvSeriesFromBytes(bytes, QStringLiteral("fuzz.csv"), QLocale::c());
    if (!read.error.isEmpty())
        return 0;
    for (const ChannelSeries& channel : read.data.channels) {
        fuzzCheck(channel.times.size() == channel.values.size(), "a time for every value");
        if (channel.times.empty())
            continue; // a channel of limit values and texts only: nothing to draw
        fuzzCheck(!channel.segmentStarts.empty() && channel.segmentStarts.front() == 0,
                  "the first segment starts at the first point");
        for (std::size_t s = 0; s < channel.segmentStarts.size(); ++s)
            fuzzCheck(channel.segmentStarts[s] < channel.segmentEnd(s) &&
                          channel.segmentEnd(s) <= channel.times.size(),
                      "segments are non-empty and inside the series");
        for (std::size_t i = 0; i < channel.times.size(); ++i) {
            fuzzCheck(std::isfinite(channel.times[i]) && std::isfinite(channel.values[i]),
                      "points are finite");
            fuzzCheck(i == 0 || channel.times[i - 1] <= channel.times[i], "times ascend");
        }
    }
    return 0;
}
