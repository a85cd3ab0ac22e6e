#include "logger/log_tail_reader.h"

#include "logger/download_log.h"
#include "logger/download_panel.h"
#include "logger/grid_model.h"
#include "logger/log_answer_sink.h"
#include "logger/logger_memory.h"
#include "logger/record_decoder.h"
#include "modbus/event_pump.h"
#include "modbus/meter_registers.h"
#include "modbus/modbus_link.h"

#include <optional>

namespace meterlink {

using namespace logger_memory;

LogTailReader::LogTailReader(LinkSession& session, EventPump& pump, int slave, DownloadPanel& panel)
    : session_(session), pump_(pump), slave_(slave), panel_(panel) {}

bool LogTailReader::readLog(qint32 offset, qint32 length, QByteArray& block) {
    const int bank = meter::FirstLogBank + offset / DownloadLog::bankBytes;
    const int addressHi = 128 + (offset % DownloadLog::bankBytes) / 256;
    LinkFailure failure;
    // After a stop the first attempt is refused at once, sending nothing: that is the reason.
    for (int attempt = 1;
         attempt <= DownloadLog::attemptsPerBlock && (attempt == 1 || !session_.aborted());
         ++attempt) {
        LinkAnswer answer = session_.ReadLogBlock(slave_, bank, addressHi, 0, (length + 1) / 2);
        if (answer) {
            block = std::move(answer.data);
            return true;
        }
        failure = answer.failure;
    }
    failureReason_ = QStringLiteral("Log block at byte %1 failed %2 times: %3")
                         .arg(offset)
                         .arg(DownloadLog::attemptsPerBlock)
                         .arg(describe(failure));
    return false;
}

bool LogTailReader::readHead(Head& head) {
    failureReason_.clear();
    const LinkAnswer state = session_.ReadHoldingRegisters(slave_, 0, meter::LoggerStateRegister,
                                                           meter::LoggerStateRegisters);
    if (!state) {
        failureReason_ =
            QStringLiteral("Reading the logger state: %1").arg(describe(state.failure));
        if (DownloadLog::silentMeter(state.failure))
            failureReason_ += QStringLiteral(". ") + DownloadLog::silentMeterHint();
        return false;
    }
    if (sink_)
        sink_->stateBlockRead(state.data);
    const auto length = logLengthFromStateBlock(state.data, &failureReason_);
    if (!length)
        return false;
    head.logLength = *length;
    head.memoryWarning = nearlyFullWarning(state.data);
    if (head.logLength == 0)
        return true;
    pump_.yield();
    for (int k = 1; k <= channelCount; ++k) {
        std::optional<QByteArray> config;
        LinkFailure failure;
        for (int attempt = 1; attempt <= DownloadLog::attemptsPerBlock && !config &&
                              (attempt == 1 || !session_.aborted());
             ++attempt) {
            LinkAnswer answer =
                session_.ReadLogBlock(slave_, meter::ChannelBank, 128 + k, 0, channelConfigLength);
            if (answer)
                config = std::move(answer.data);
            failure = answer.failure;
        }
        if (!config) {
            // A whole download would leave the channel out; appending to a file that has it
            // would mix two layouts.
            failureReason_ =
                QStringLiteral("Reading channel %1's name: %2").arg(k).arg(describe(failure));
            return false;
        }
        if (sink_)
            sink_->channelRead(k, *config);
        const QString name = QString::fromLatin1(
            DownloadLog::StripHighChars(config->mid(channelNameOffset, channelNameLength)));
        head.names[size_t(k - 1)] = name;
        head.channelInUse[size_t(k)] = name.isEmpty() || name == QLatin1String("Not Used") ? 0 : -1;
        panel_.setText3(k - 1, name);
        pump_.yield();
    }
    if (!readLog(0, RecordDecoder::recordSize, head.firstRecord))
        return false;
    head.firstRecord = head.firstRecord.left(RecordDecoder::recordSize);
    return true;
}

void LogTailReader::writeHeader(GridModel& grid, const Head& head) {
    grid.setTextMatrix(1, 0, QStringLiteral("Record #"));
    grid.setTextMatrix(1, 1, QStringLiteral("Date / Time"));
    for (int k = 1; k <= channelCount; ++k)
        if (head.channelInUse[size_t(k)] != 0)
            grid.setTextMatrix(1, k + 1, head.names[size_t(k - 1)]);
}

bool LogTailReader::readBlocks(qint32 from, qint32 logLength, RecordDecoder& decoder,
                               qint32& lastGridRow, Seam& seam) {
    failureReason_.clear();
    seam = Seam{from, lastGridRow};
    for (qint32 offset = from; offset < logLength; offset += DownloadLog::blockBytes) {
        QByteArray block;
        panel_.setProgress(float(double(offset) / double(logLength) * 100.0));
        if (!readLog(offset, qMin<qint32>(logLength - offset, DownloadLog::blockBytes), block))
            return false;
        ++blocksRead_;
        if (sink_)
            sink_->logBlockRead(offset, block);
        const qint32 rowsBefore = lastGridRow;
        decoder.DecodeRecord(block, lastGridRow);
        // Undated records at a block's start belong to the row before it, which an append
        // starting at this block could not complete.
        if (offset == from || !decoder.joinedRow())
            seam = Seam{offset, rowsBefore};
        pump_.yield();
    }
    return true;
}

} // namespace meterlink
