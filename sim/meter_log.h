#pragma once

#include "sim/log_record.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>
#include <vector>

namespace meterlink {

// The logger's memory as the meter serves it: eight channel names and the records,
// oldest first, from byte offset 0.
class MeterLog {
public:
    static constexpr int ChannelCount = 8;
    static constexpr int RecordBytes = 8;
    static constexpr int BankBytes = 16384;
    static constexpr int FirstLogBank = 8;
    static constexpr int ConfigBank = 24;
    // Banks 8 to 23 hold the log.
    static constexpr int CapacityRecords = (ConfigBank - FirstLogBank) * BankBytes / RecordBytes;
    static constexpr int ConfigBlockBytes = 100;
    static constexpr int NameOffset = 64; // data bytes 65 to 96 (1-based)
    static constexpr int NameLength = 32;

    MeterLog();

    static std::array<QString, ChannelCount> defaultChannelNames();

    // A plausible log: every interval writes one record per channel in use, so
    // equal timestamps come in groups; readings move smoothly with some noise.
    struct Generation {
        int records = 0;
        quint32 seed = 1;
        QDateTime start = QDateTime(QDate(2001, 5, 30), QTime(22, 0));
        int intervalMinutes = 30;
    };
    static MeterLog
    generated(const Generation& how,
              const std::array<QString, ChannelCount>& names = defaultChannelNames());

    const std::array<QString, ChannelCount>& channelNames() const { return names_; }
    void setChannelName(int channel, const QString& name); // channel 1 to 8
    bool channelInUse(int channel) const;

    const std::vector<LogRecord>& records() const { return records_; }
    // Records beyond the logger's capacity are refused (false).
    bool append(const LogRecord& record);
    void clearRecords() { records_.clear(); }
    int recordCount() const { return static_cast<int>(records_.size()); }

    // The log as it lies in memory from offset 0.
    QByteArray bytes() const;
    // `length` bytes from `offset`; past the end of the log memory reads 0xFF.
    QByteArray read(qint64 offset, int length) const;

    // Channel k's configuration block: the name at bytes 65 to 96, padded with 0xFF
    // (the erased-memory value the download strips), so "Not Used" stays exact.
    QByteArray configBlock(int channel) const;

    // The 16 bytes of the logger state block (registers 76 to 83).
    QByteArray stateBlock() const;
    // A real meter's answers, served as they came (a log image): the state block, and
    // channel k's configuration block in place of the one made from its name.
    void setRawStateBlock(const QByteArray& raw) { rawState_ = raw.leftJustified(16, '\0'); }
    void setRawConfigBlock(int channel, const QByteArray& raw);
    // Overrides for odd meters: explicit pointers and counters.
    void setPointers(qint64 start, qint64 last) { pointers_ = std::make_pair(start, last); }
    void setCounters(float used, float available) { counters_ = std::make_pair(used, available); }

    // One exportLine() per record, each ended by '\n'.
    QByteArray exportText() const;

private:
    std::array<QString, ChannelCount> names_;
    std::vector<LogRecord> records_;
    std::optional<std::pair<qint64, qint64>> pointers_;
    std::optional<std::pair<float, float>> counters_;
    std::optional<QByteArray> rawState_;
    std::array<std::optional<QByteArray>, ChannelCount> rawConfig_;
};

} // namespace meterlink
