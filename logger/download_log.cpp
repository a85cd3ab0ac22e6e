#include "logger/download_log.h"

#include "logger/download_panel.h"
#include "logger/grid_model.h"
#include "logger/log_answer_sink.h"
#include "logger/logger_memory.h"
#include "logger/meter_float.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"

#include <optional>

namespace meterlink {

namespace {

using namespace logger_memory;
constexpr int lastBank = 255;

quint8 byteAt(const QByteArray& bytes, int index) {
    return quint8(bytes.at(index));
}

} // namespace

DownloadLog::DownloadLog(ModbusLink& link, EventPump& pump, const Settings& settings,
                         GridModel& grid, DownloadPanel& panel, const QLocale& locale)
    : link_(link), pump_(pump), settings_(settings), grid_(grid), panel_(panel),
      decoder_(grid, locale) {}

qint16 DownloadLog::ChannelInUse(int k) const {
    return k >= 1 && k <= channelCount ? channelInUse_[size_t(k)] : 0;
}

QByteArray DownloadLog::StripHighChars(const QByteArray& text) {
    QByteArray kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if (quint8(c) < 254)
            kept += c;
    }
    return kept;
}

qint32 DownloadLog::logLength(const QByteArray& stateBlock) {
    return logLengthFromStateBlock(stateBlock, &failureReason_).value_or(-1);
}

void DownloadLog::writeHeader(int column, const QString& text) {
    grid_.setCellFontBold(1, column, true);
    grid_.setCellFontUnderline(1, column, true);
    grid_.setTextMatrix(1, column, text);
}

QString DownloadLog::silentMeterHint() {
    return QStringLiteral("The meter did not answer at all: check that the speed and slave ID "
                          "(the Settings tab, or --baud and --slave) are the meter's own, or "
                          "find them with meterlink-cli scan.");
}

bool DownloadLog::silentMeter(const LinkFailure& failure) {
    return failure.fault == LinkFault::NoAnswer && failure.sends > 0;
}

bool DownloadLog::readChannel(int k, int attempts) {
    std::optional<QByteArray> config;
    for (int attempt = 1; attempt <= attempts && !config && !link_.aborted(); ++attempt) {
        if (LinkAnswer answer = session_->ReadLogBlock(settings_.SlaveId, channelBank, 128 + k, 0,
                                                       channelConfigLength))
            config = std::move(answer.data);
    }
    if (!config)
        return false; // the flag keeps its value from the previous download
    if (sink_)
        sink_->channelRead(k, *config);
    const QByteArray name = StripHighChars(config->mid(channelNameOffset, channelNameLength));
    const QString text = QString::fromLatin1(name);
    panel_.setText3(k - 1, text);
    if (text.isEmpty() || text == QLatin1String("Not Used")) {
        channelInUse_[size_t(k)] = 0;
        return true;
    }
    channelInUse_[size_t(k)] = -1;
    // Over the channel's own readings, so a gap in the channels cannot shift the headings.
    writeHeader(k + 1, text);
    return true;
}

bool DownloadLog::readBlock(qint32 offset, qint32 length, QByteArray& block) {
    const int bank = firstLogBank + offset / bankBytes;
    const int addressHi = 128 + (offset % bankBytes) / 256;
    // An odd byte count cannot be asked for in words; the extra byte is half a record at most.
    const int words = (length + 1) / 2;
    for (int attempt = 1; attempt <= attemptsPerBlock && !link_.aborted(); ++attempt) {
        LinkAnswer answer = session_->ReadLogBlock(settings_.SlaveId, bank, addressHi, 0, words);
        if (answer) {
            block = std::move(answer.data);
            return true;
        }
    }
    return false;
}

bool DownloadLog::stopped() {
    if (!link_.aborted())
        return false;
    failureReason_ = QStringLiteral("The download was stopped before it ended");
    return true;
}

qint16 DownloadLog::finish(qint16 result) {
    grid_.setRedraw(true);
    return result;
}

qint16 DownloadLog::run() {
    LinkSession session(link_);
    return run(session);
}

qint16 DownloadLog::run(LinkSession& session) {
    session_ = &session;
    const qint16 result = download();
    session_ = nullptr;
    return result;
}

qint16 DownloadLog::download() {
    failureReason_.clear();
    memoryWarning_.clear();
    panel_.setProgress(0.0f);

    qint16 result = Failed;
    qint32 total = 0; // T; stays 0 when the state block gives none
    const LinkAnswer stateAnswer = session_->ReadHoldingRegisters(
        settings_.SlaveId, 0, meter::LoggerStateRegister, meter::LoggerStateRegisters);
    if (stateAnswer) {
        const QByteArray& state = stateAnswer.data;
        if (sink_)
            sink_->stateBlockRead(state);
        const qint32 length = logLength(state);
        if (length >= 0) {
            memoryWarning_ = nearlyFullWarning(state);
            result = Completed;
            total = length;
            if (total == 0)
                return finish(Empty);
            panel_.setText3(9, CounterText(DecodeMeterFloat(byteAt(state, 8), byteAt(state, 9),
                                                            byteAt(state, 10), byteAt(state, 11))));
            panel_.setText3(8, CounterText(DecodeMeterFloat(byteAt(state, 12), byteAt(state, 13),
                                                            byteAt(state, 14), byteAt(state, 15))));
            pump_.yield();
        }
    } else {
        failureReason_ =
            QStringLiteral("Reading the logger state: %1").arg(describe(link_.lastFailure()));
    }
    // Nothing at all came back, not even to the names' reads: most likely the wrong speed
    // or slave ID rather than a fault of the meter.
    bool silent = total == 0 && silentMeter(link_.lastFailure());

    for (int index = 0; index < channelCount; ++index)
        panel_.setText3(index, QString());

    writeHeader(0, QStringLiteral("Record #"));
    writeHeader(1, QStringLiteral("Date / Time"));
    lastGridRow_ = 1;

    // A channel whose name is missed is left out of the file, so with a meter that has
    // answered, a name gets the attempts a log block gets; without one, one try each.
    const int channelAttempts = total > 0 ? attemptsPerBlock : 1;
    for (int k = 1; k <= channelCount; ++k) {
        if (stopped())
            return finish(Failed);
        if (readChannel(k, channelAttempts))
            silent = false;
        pump_.yield();
    }

    grid_.setColWidth(0, 1000);
    grid_.setColWidth(1, 1800);
    for (int column = 2; column < GridModel::columns; ++column)
        grid_.setColWidth(column, 2000);
    pump_.yield();

    if (total > 0 && firstLogBank + (total - 1) / bankBytes > lastBank) {
        failureReason_ =
            QStringLiteral("The logger reports %1 bytes, more than its memory can hold").arg(total);
        return finish(Failed);
    }

    qint32 offset = 0;
    qint32 length = qMin<qint32>(total, blockBytes);
    grid_.setRedraw(false);
    for (;;) {
        QByteArray block;
        const bool read = readBlock(offset, length, block);
        if (total == 0) {
            if (failureReason_.isEmpty())
                failureReason_ = QStringLiteral("The logger state was not read");
            if (silent && !link_.aborted())
                failureReason_ += QStringLiteral(". ") + silentMeterHint();
            return finish(Failed);
        }
        if (stopped())
            return finish(Failed);
        panel_.setProgress(float(double(offset) / double(total) * 100.0));
        if (!read) {
            failureReason_ = QStringLiteral("Log block at byte %1 failed %2 times: %3")
                                 .arg(offset)
                                 .arg(attemptsPerBlock)
                                 .arg(describe(link_.lastFailure()));
            result = Failed;
            break;
        }
        if (sink_)
            sink_->logBlockRead(offset, block);
        if (decoder_.DecodeRecord(block, lastGridRow_) != -1)
            break;
        offset += blockBytes;
        if (offset >= total)
            break;
        length = qMin<qint32>(total - offset, blockBytes);
    }
    return finish(result);
}

} // namespace meterlink
