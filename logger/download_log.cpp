#include "logger/download_log.h"

#include "logger/download_panel.h"
#include "logger/grid_model.h"
#include "logger/meter_float.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"

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

bool DownloadLog::ChannelInUse(int k) const {
    return k >= 1 && k <= channelCount && channelInUse_[size_t(k)];
}

qint32 DownloadLog::logLength(const QByteArray& stateBlock) {
    return logLengthFromStateBlock(stateBlock, &failureReason_).value_or(-1);
}

void DownloadLog::writeHeader(int column, const QString& text) {
    grid_.setCellFontBold(1, column, true);
    grid_.setCellFontUnderline(1, column, true);
    grid_.setTextMatrix(1, column, text);
}

bool DownloadLog::readChannel(LogReader& reader, int k, int attempts) {
    const auto name = reader.readChannelName(k, attempts);
    if (!name)
        return false; // the flag keeps its value from the previous download
    if (LogReader::unusedChannelName(*name)) {
        channelInUse_[size_t(k)] = false;
        return true;
    }
    channelInUse_[size_t(k)] = true;
    // Over the channel's own readings, so a gap in the channels cannot shift the headings.
    writeHeader(k + 1, *name);
    return true;
}

bool DownloadLog::stopped(const LogReader& reader) {
    if (!reader.stopped())
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
    failureReason_.clear();
    memoryWarning_.clear();
    panel_.setProgress(0.0f);
    LogReader reader(session, settings_.SlaveId, panel_);
    reader.setAnswerSink(sink_);

    qint32 total = 0; // T; stays 0 when the state block gives none
    if (const auto state = reader.readStateBlock()) {
        const qint32 length = logLength(*state);
        if (length >= 0) {
            memoryWarning_ = nearlyFullWarning(*state);
            total = length;
            if (total == 0)
                return finish(Empty);
            panel_.setText3(9,
                            CounterText(DecodeMeterFloat(byteAt(*state, 8), byteAt(*state, 9),
                                                         byteAt(*state, 10), byteAt(*state, 11))));
            panel_.setText3(8,
                            CounterText(DecodeMeterFloat(byteAt(*state, 12), byteAt(*state, 13),
                                                         byteAt(*state, 14), byteAt(*state, 15))));
            pump_.yield();
        }
    } else {
        failureReason_ = reader.failureReason();
    }
    // Nothing at all came back, not even to the names' reads: most likely the wrong speed
    // or slave ID rather than a fault of the meter.
    bool silent = total == 0 && LogReader::silentMeter(reader.lastFailure());

    for (int index = 0; index < channelCount; ++index)
        panel_.setText3(index, QString());

    writeHeader(0, QStringLiteral("Record #"));
    writeHeader(1, QStringLiteral("Date / Time"));
    lastGridRow_ = 1;

    // A channel whose name is missed is left out of the file, so with a meter that has
    // answered, a name gets the attempts a log block gets; without one, one try each.
    const int channelAttempts = total > 0 ? attemptsPerBlock : 1;
    for (int k = 1; k <= channelCount; ++k) {
        if (stopped(reader))
            return finish(Failed);
        if (readChannel(reader, k, channelAttempts))
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

    grid_.setRedraw(false);
    if (total == 0) {
        // What the line has always carried here: a log block of no length, its answer unused.
        reader.readBlock(0, 0);
        if (failureReason_.isEmpty())
            failureReason_ = QStringLiteral("The logger state was not read");
        if (silent && !reader.stopped())
            failureReason_ += QStringLiteral(". ") + LogReader::silentMeterHint();
        return finish(Failed);
    }
    LogReader::Seam seam;
    if (!reader.readBlocks(0, total, decoder_, lastGridRow_, seam)) {
        if (!stopped(reader))
            failureReason_ = reader.failureReason();
        return finish(Failed);
    }
    return finish(Completed);
}

} // namespace meterlink
