#include "sim/meter_log.h"

#include <cmath>
#include <random>

namespace meterlink {

namespace {

// Distributions differ between standard libraries; this keeps a seed's log the same
// everywhere.
double unitNoise(std::mt19937& rng) {
    const double a = rng() / 4294967296.0;
    const double b = rng() / 4294967296.0;
    return a + b - 1.0; // -1..1, peaked at 0
}

float roundTo(double value, double step) {
    return static_cast<float>(std::round(value / step) * step);
}

void appendPointer(QByteArray& out, qint64 pointer) {
    const qint64 page = pointer / MeterLog::BankBytes;
    const qint64 offset = pointer % MeterLog::BankBytes;
    out.append(static_cast<char>(page & 0xFF));
    out.append('\0');
    out.append(static_cast<char>((offset >> 8) & 0xFF));
    out.append(static_cast<char>(offset & 0xFF));
}

} // namespace

MeterLog::MeterLog() : names_(defaultChannelNames()) {}

std::array<QString, MeterLog::ChannelCount> MeterLog::defaultChannelNames() {
    return {QStringLiteral("Flow Rate"),   QStringLiteral("Totaliser"), QStringLiteral("Pressure"),
            QStringLiteral("Temperature"), QStringLiteral("Not Used"),  QStringLiteral("Not Used"),
            QStringLiteral("Not Used"),    QStringLiteral("Not Used")};
}

void MeterLog::setChannelName(int channel, const QString& name) {
    if (channel >= 1 && channel <= ChannelCount)
        names_[channel - 1] = name;
}

bool MeterLog::channelInUse(int channel) const {
    if (channel < 1 || channel > ChannelCount)
        return false;
    const QString& name = names_[channel - 1];
    return !name.isEmpty() && name != QLatin1String("Not Used");
}

MeterLog MeterLog::generated(const Generation& how,
                             const std::array<QString, ChannelCount>& names) {
    MeterLog log;
    log.names_ = names;
    std::vector<int> channels;
    for (int k = 1; k <= ChannelCount; ++k)
        if (log.channelInUse(k))
            channels.push_back(k);
    if (channels.empty())
        channels.push_back(1);

    std::mt19937 rng(how.seed);
    const int records = qBound(0, how.records, CapacityRecords);
    const int interval = qMax(1, how.intervalMinutes);
    QDateTime when = how.start;
    double total = 1000.0 + (rng() % 9000);
    const double phase = (rng() % 628) / 100.0;
    for (int step = 0; log.recordCount() < records; ++step) {
        const double hours = step * interval / 60.0;
        const double daily = std::sin(hours * 2.0 * M_PI / 24.0 + phase);
        const double flow = 120.0 + 35.0 * daily + 4.0 * unitNoise(rng);
        total += flow * interval * 60.0 / 1000.0; // L/s over the interval, in m3
        for (int channel : channels) {
            if (log.recordCount() >= records)
                break;
            float value = 0.0f;
            switch ((channel - 1) % 4) {
            case 0:
                value = roundTo(flow, 0.1);
                break;
            case 1:
                value = roundTo(total, 0.1);
                break;
            case 2:
                value = roundTo(3.2 + 0.3 * daily + 0.05 * unitNoise(rng), 0.01);
                break;
            default:
                value = roundTo(14.0 + 4.0 * daily + 0.3 * unitNoise(rng), 0.1);
                break;
            }
            log.records_.push_back(LogRecord::make(channel, when, value));
        }
        when = when.addSecs(60LL * interval);
    }
    return log;
}

bool MeterLog::append(const LogRecord& record) {
    if (recordCount() >= CapacityRecords)
        return false;
    records_.push_back(record);
    return true;
}

QByteArray MeterLog::bytes() const {
    QByteArray out;
    out.reserve(recordCount() * RecordBytes);
    for (const LogRecord& r : records_)
        out.append(r.raw);
    return out;
}

QByteArray MeterLog::read(qint64 offset, int length) const {
    QByteArray out(qMax(0, length), '\xFF');
    const qint64 size = static_cast<qint64>(records_.size()) * RecordBytes;
    for (int i = 0; i < out.size(); ++i) {
        const qint64 at = offset + i;
        if (at < 0 || at >= size)
            continue;
        out[i] = records_[static_cast<size_t>(at / RecordBytes)].raw.at(at % RecordBytes);
    }
    return out;
}

void MeterLog::setRawConfigBlock(int channel, const QByteArray& raw) {
    if (channel >= 1 && channel <= ChannelCount)
        rawConfig_[channel - 1] = raw;
}

QByteArray MeterLog::configBlock(int channel) const {
    if (channel >= 1 && channel <= ChannelCount && rawConfig_[channel - 1])
        return *rawConfig_[channel - 1];
    QByteArray block(ConfigBlockBytes, '\0');
    block[0] = static_cast<char>(channel);
    const QByteArray name =
        names_[qBound(1, channel, ChannelCount) - 1].toLatin1().left(NameLength);
    QByteArray field(NameLength, '\xFF');
    field.replace(0, name.size(), name);
    block.replace(NameOffset, NameLength, field);
    return block;
}

QByteArray MeterLog::stateBlock() const {
    if (rawState_)
        return *rawState_;
    const int n = recordCount();
    // An empty log has its last-record pointer one record before the start.
    qint64 start = n > 0 ? 0 : RecordBytes;
    qint64 last = n > 0 ? static_cast<qint64>(RecordBytes) * (n - 1) : 0;
    if (pointers_) {
        start = pointers_->first;
        last = pointers_->second;
    }
    float used = static_cast<float>(n);
    float available = static_cast<float>(CapacityRecords - n);
    if (counters_) {
        used = counters_->first;
        available = counters_->second;
    }
    QByteArray out;
    appendPointer(out, start);
    appendPointer(out, last);
    out.append(encodeMeterFloat(used));
    out.append(encodeMeterFloat(available));
    return out;
}

QByteArray MeterLog::exportText() const {
    QByteArray out;
    for (const LogRecord& r : records_)
        out.append(r.exportLine()).append('\n');
    return out;
}

} // namespace meterlink
