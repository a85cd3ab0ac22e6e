#include "chart/series_builder.h"

#include <QDateTime>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numeric>

namespace meterlink {

namespace {

// The decoder writes values beyond these as the limit texts 1E+37 and -1E+37.
constexpr double limitMagnitude = 9.99e36;
// A clock set back by a few days is not a new year.
constexpr int clockCorrectionDays = 7;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

void splitAtGaps(ChannelSeries& channel) {
    const std::size_t n = channel.times.size();
    channel.segmentStarts.assign(1, 0);
    if (n < 3)
        return;
    std::vector<double> steps;
    steps.reserve(n - 1);
    for (std::size_t i = 1; i < n; ++i) {
        const double step = channel.times[i] - channel.times[i - 1];
        if (step > 0)
            steps.push_back(step);
    }
    if (steps.empty())
        return;
    auto middle = steps.begin() + std::ptrdiff_t(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    const double gap = 3 * *middle;
    for (std::size_t i = 1; i < n; ++i) {
        if (channel.times[i] - channel.times[i - 1] > gap)
            channel.segmentStarts.push_back(i);
    }
}

void sortByTime(ChannelSeries& channel) {
    if (std::is_sorted(channel.times.begin(), channel.times.end()))
        return;
    std::vector<std::size_t> order(channel.times.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return channel.times[a] < channel.times[b];
    });
    std::vector<double> times(order.size()), values(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        times[i] = channel.times[order[i]];
        values[i] = channel.values[order[i]];
    }
    channel.times.swap(times);
    channel.values.swap(values);
}

} // namespace

ReadingKind parseReading(const char* begin, const char* end, double& value) {
    while (begin < end && isBlank(*begin))
        ++begin;
    while (end > begin && isBlank(end[-1]))
        --end;
    if (begin == end)
        return ReadingKind::Blank;
    const char* start = begin;
    if (*start == '+')
        ++start;
    const auto [stop, error] = std::from_chars(start, end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value))
        return ReadingKind::Text;
    return std::abs(value) >= limitMagnitude ? ReadingKind::Limit : ReadingKind::Number;
}

SeriesBuilder::SeriesBuilder(const QStringList& channelNames, const TimestampReader& reader)
    : reader_(reader) {
    for (const QString& name : channelNames) {
        ChannelSeries channel;
        channel.name = name;
        data_.channels.push_back(std::move(channel));
    }
}

qint64 SeriesBuilder::msecsOf(const QDate& date, const QTime& time) {
    // Converting each local time on its own is the slow part of a long log; a day without a
    // clock change is its midnight plus the time of day.
    const qint64 day = date.toJulianDay();
    auto found = midnights_.constFind(day);
    if (found == midnights_.cend()) {
        const QDateTime midnight(date, QTime(0, 0));
        const QDateTime next(date.addDays(1), QTime(0, 0));
        const bool steady = midnight.offsetFromUtc() == next.offsetFromUtc();
        found = midnights_.insert(day, steady ? midnight.toMSecsSinceEpoch() : -1);
    }
    if (*found == -1)
        return QDateTime(date, time).toMSecsSinceEpoch();
    return *found + time.msecsSinceStartOfDay();
}

bool SeriesBuilder::beginRow(QStringView timestamp, int fieldCount) {
    const int channels = int(data_.channels.size());
    if (fieldCount > channels)
        ++data_.leftOut.extraFieldRows;
    else if (fieldCount < channels)
        ++data_.leftOut.shortRows;

    const TimestampReader::Moment moment = reader_.read(timestamp);
    if (!moment.isValid()) {
        ++data_.leftOut.undatedRows;
        return false;
    }
    // The records carry no year: a date before the previous one is the next year's.
    QDate date = moment.date.addYears(yearsAhead_);
    if (previousDate_.isValid() && date.daysTo(previousDate_) > clockCorrectionDays) {
        // Straight to the previous date's year, then a step or two: a damaged year in a
        // file (20012001) must not cost a step per year.
        const qint64 jump = qint64(previousDate_.year()) - qint64(date.year());
        if (jump > 1 && jump < std::numeric_limits<int>::max() - qint64(yearsAhead_)) {
            yearsAhead_ += int(jump - 1);
            date = moment.date.addYears(yearsAhead_);
        }
        while (date.isValid() && date.daysTo(previousDate_) > clockCorrectionDays) {
            ++yearsAhead_;
            date = moment.date.addYears(yearsAhead_);
        }
        ++data_.leftOut.yearsAdvanced;
    }
    if (!date.isValid()) { // advanced past the calendar's end
        ++data_.leftOut.undatedRows;
        return false;
    }
    previousDate_ = date;
    rowTime_ = double(msecsOf(date, moment.time));
    if (anyRow_ && rowTime_ == previousTime_)
        ++data_.leftOut.repeatedTimes;
    previousTime_ = rowTime_;
    anyRow_ = true;
    ++data_.rows;
    return true;
}

void SeriesBuilder::addReading(int index, const char* begin, const char* end) {
    if (index < 0 || index >= int(data_.channels.size()))
        return;
    double value = 0;
    switch (parseReading(begin, end, value)) {
    case ReadingKind::Blank:
        return;
    case ReadingKind::Limit:
        ++data_.leftOut.limitValues;
        return;
    case ReadingKind::Text:
        ++data_.leftOut.notNumbers;
        return;
    case ReadingKind::Number:
        break;
    }
    ChannelSeries& channel = data_.channels[size_t(index)];
    channel.times.push_back(rowTime_);
    channel.values.push_back(value);
}

void SeriesBuilder::addReading(int index, QStringView text) {
    char buffer[64];
    if (text.size() > qsizetype(sizeof buffer)) {
        if (!text.trimmed().isEmpty())
            ++data_.leftOut.notNumbers;
        return;
    }
    int length = 0;
    for (QChar c : text) {
        // Anything outside ASCII is no number the decoder writes.
        buffer[length++] = c.unicode() < 128 ? char(c.unicode()) : '?';
    }
    addReading(index, buffer, buffer + length);
}

ChartData SeriesBuilder::finish() {
    for (ChannelSeries& channel : data_.channels) {
        sortByTime(channel);
        splitAtGaps(channel);
    }
    return std::move(data_);
}

} // namespace meterlink
