#include "logger/log_reader.h"

#include "logger/download_panel.h"
#include "logger/grid_model.h"
#include "logger/log_answer_sink.h"
#include "logger/logger_memory.h"
#include "logger/record_decoder.h"
#include "modbus/event_pump.h"
#include "modbus/meter_registers.h"
#include "modbus/modbus_link.h"

namespace meterlink {

using namespace logger_memory;

LogReader::LogReader(LinkSession& session, int slave, DownloadPanel& panel)
    : session_(session), slave_(slave), panel_(panel) {}

bool LogReader::stopped() const {
    return session_.aborted();
}

QByteArray LogReader::StripHighChars(const QByteArray& text) {
    QByteArray kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if (quint8(c) < 254)
            kept += c;
    }
    return kept;
}

bool LogReader::unusedChannelName(const QString& name) {
    return name.isEmpty() || name == QLatin1String("Not Used");
}

QString LogReader::silentMeterHint() {
    return QStringLiteral("The meter did not answer at all: check that the speed and slave ID "
                          "(the Settings tab, or --baud and --slave) are the meter's own, or "
                          "find them with meterlink-cli scan.");
}

bool LogReader::silentMeter(const LinkFailure& failure) {
    return failure.fault == LinkFault::NoAnswer && failure.sends > 0;
}

bool LogReader::readRegisters(int addressHi, int addressLo, int count, QByteArray& answer) {
    LinkAnswer reply = session_.ReadHoldingRegisters(slave_, addressHi, addressLo, count);
    lastFailure_ = reply.failure;
    answer = std::move(reply.data);
    return reply.ok();
}

bool LogReader::readLogBank(int bank, int addressHi, int words, QByteArray& answer) {
    LinkAnswer reply = session_.ReadLogBlock(slave_, bank, addressHi, 0, words);
    lastFailure_ = reply.failure;
    answer = std::move(reply.data);
    return reply.ok();
}

std::optional<QByteArray> LogReader::readStateBlock() {
    QByteArray state;
    if (!readRegisters(0, meter::LoggerStateRegister, meter::LoggerStateRegisters, state)) {
        failureReason_ = QStringLiteral("Reading the logger state: %1").arg(describe(lastFailure_));
        return std::nullopt;
    }
    if (sink_)
        sink_->stateBlockRead(state);
    return state;
}

std::optional<QString> LogReader::readChannelName(int k, int attempts) {
    QByteArray answer;
    bool read = false;
    for (int attempt = 1; attempt <= attempts && !read && (attempt == 1 || !stopped()); ++attempt)
        read = readLogBank(meter::ChannelBank, 128 + k, channelConfigLength, answer);
    if (!read) {
        failureReason_ =
            QStringLiteral("Reading channel %1's name: %2").arg(k).arg(describe(lastFailure_));
        return std::nullopt;
    }
    if (sink_)
        sink_->channelRead(k, answer);
    const QString name =
        QString::fromLatin1(StripHighChars(answer.mid(channelNameOffset, channelNameLength)));
    panel_.setText3(k - 1, name);
    return name;
}

std::optional<QByteArray> LogReader::readBlock(qint32 offset, qint32 length) {
    const int bank = meter::FirstLogBank + offset / bankBytes;
    const int addressHi = 128 + (offset % bankBytes) / 256;
    // An odd byte count cannot be asked for in words; the extra byte is half a record at most.
    const int words = (length + 1) / 2;
    QByteArray block;
    for (int attempt = 1; attempt <= attemptsPerBlock && (attempt == 1 || !stopped()); ++attempt) {
        if (readLogBank(bank, addressHi, words, block))
            return block;
    }
    failureReason_ = QStringLiteral("Log block at byte %1 failed %2 times: %3")
                         .arg(offset)
                         .arg(attemptsPerBlock)
                         .arg(describe(lastFailure_));
    return std::nullopt;
}

bool LogReader::readBlocks(qint32 from, qint32 logLength, RecordDecoder& decoder,
                           qint32& lastGridRow, Seam& seam, EventPump* pump) {
    failureReason_.clear();
    seam = Seam{from, lastGridRow};
    for (qint32 offset = from; offset < logLength; offset += blockBytes) {
        panel_.setProgress(float(double(offset) / double(logLength) * 100.0));
        const auto block = readBlock(offset, qMin<qint32>(logLength - offset, blockBytes));
        if (!block)
            return false;
        if (stopped()) {
            failureReason_ = QStringLiteral("The download was stopped before it ended");
            return false;
        }
        ++blocksRead_;
        if (sink_)
            sink_->logBlockRead(offset, *block);
        const qint32 rowsBefore = lastGridRow;
        decoder.DecodeRecord(*block, lastGridRow);
        // Undated records at a block's start belong to the row before it, which an append
        // starting at this block could not complete.
        if (offset == from || !decoder.joinedRow())
            seam = Seam{offset, rowsBefore};
        if (pump)
            pump->yield();
    }
    return true;
}

bool LogReader::readHead(Head& head, EventPump& pump) {
    failureReason_.clear();
    const auto state = readStateBlock();
    if (!state) {
        if (silentMeter(lastFailure_))
            failureReason_ += QStringLiteral(". ") + silentMeterHint();
        return false;
    }
    const auto length = logLengthFromStateBlock(*state, &failureReason_);
    if (!length)
        return false;
    head.logLength = *length;
    head.memoryWarning = nearlyFullWarning(*state);
    if (head.logLength == 0)
        return true;
    pump.yield();
    for (int k = 1; k <= channelCount; ++k) {
        // A whole download would leave a channel it missed out; appending to a file that
        // has it would mix two layouts.
        const auto name = readChannelName(k, attemptsPerBlock);
        if (!name)
            return false;
        head.names[size_t(k - 1)] = *name;
        head.channelInUse[size_t(k)] = !unusedChannelName(*name);
        pump.yield();
    }
    const auto first = readBlock(0, RecordDecoder::recordSize);
    if (!first)
        return false;
    head.firstRecord = first->left(RecordDecoder::recordSize);
    return true;
}

void LogReader::writeHeader(GridModel& grid, const Head& head) {
    grid.setTextMatrix(1, 0, QStringLiteral("Record #"));
    grid.setTextMatrix(1, 1, QStringLiteral("Date / Time"));
    for (int k = 1; k <= channelCount; ++k)
        if (head.channelInUse[size_t(k)])
            grid.setTextMatrix(1, k + 1, head.names[size_t(k - 1)]);
}

} // namespace meterlink
