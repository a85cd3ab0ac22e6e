#pragma once

#include "logger/channel_flags.h"
#include "logger/log_reader.h"
#include "logger/logger_memory.h"
#include "logger/record_decoder.h"
#include "modbus/meter_registers.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

namespace meterlink {

class DownloadPanel;
class EventPump;
class GridModel;
class LinkSession;
class LogAnswerSink;
class ModbusLink;
struct Settings;

// The whole download into the grid: the logger's state, the channel names and the log, each
// read by LogReader.
class DownloadLog {
public:
    static constexpr int blockBytes = logger_memory::blockBytes;
    static constexpr int bankBytes = logger_memory::bankBytes;
    static constexpr int firstLogBank = meter::FirstLogBank;
    static constexpr int channelBank = meter::ChannelBank;
    static constexpr int attemptsPerBlock = LogReader::attemptsPerBlock;

    enum Result : qint16 { Completed = 0, Empty = 1, Failed = 2 };

    DownloadLog(ModbusLink& link, EventPump& pump, const Settings& settings, GridModel& grid,
                DownloadPanel& panel, const QLocale& locale = QLocale::system());

    // The whole download: 0 completed, 1 the log is empty, 2 failed (see failureReason()).
    // Expects a cleared grid. An abort() of the link's session ends it with 2 once the
    // transaction in progress has returned.
    qint16 run(LinkSession& session);
    // The same in a session of its own (refused when another is open).
    qint16 run();

    // Channel k (1..8): whether its name heads column k + 1. Kept from download to download.
    bool ChannelInUse(int k) const;
    const ChannelFlags& channelFlags() const { return channelInUse_; }
    // The grid row of the newest record; 1 (the header row) when there is none.
    qint32 LastGridRow() const { return lastGridRow_; }

    // Why the latest run gave 2; empty otherwise.
    const QString& failureReason() const { return failureReason_; }
    // After a read state block: the logger is nearly full (see nearlyFullWarning).
    const QString& memoryWarning() const { return memoryWarning_; }
    RecordDecoder& decoder() { return decoder_; }

    // Handed every answer the download uses, as it came (for a log image); none by default.
    void setAnswerSink(LogAnswerSink* sink) { sink_ = sink; }

private:
    // The log length T in bytes from the state block, or -1 when the block cannot give one.
    qint32 logLength(const QByteArray& stateBlock);
    bool readChannel(LogReader& reader, int k, int attempts); // whether the name was read
    void writeHeader(int column, const QString& text);
    qint16 finish(qint16 result);
    bool stopped(const LogReader& reader);

    ModbusLink& link_;
    EventPump& pump_;
    const Settings& settings_;
    GridModel& grid_;
    DownloadPanel& panel_;
    RecordDecoder decoder_;
    ChannelFlags channelInUse_{};
    qint32 lastGridRow_ = 1;
    QString failureReason_;
    QString memoryWarning_;
    LogAnswerSink* sink_ = nullptr;
};

} // namespace meterlink
