#include "logger/logger_memory.h"

#include "logger/meter_float.h"
#include "logger/record_decoder.h"

namespace meterlink {

std::optional<qint32> logLengthFromStateBlock(const QByteArray& stateBlock, QString* why) {
    if (stateBlock.size() < logger_memory::stateBytes) {
        *why = QStringLiteral("The logger state block had %1 of its %2 bytes")
                   .arg(stateBlock.size())
                   .arg(logger_memory::stateBytes);
        return std::nullopt;
    }
    const auto byteAt = [&](int index) { return qint32(quint8(stateBlock.at(index))); };
    const qint32 start = byteAt(0) * logger_memory::bankBytes + byteAt(2) * 256 + byteAt(3);
    const qint32 last = byteAt(4) * logger_memory::bankBytes + byteAt(6) * 256 + byteAt(7);
    const qint32 length = (last + RecordDecoder::recordSize) - start;
    if (length < 0) {
        *why =
            QStringLiteral("The logger state is inconsistent: last record %1 lies before start %2")
                .arg(last)
                .arg(start);
        return std::nullopt;
    }
    return length;
}

QString nearlyFullWarning(const QByteArray& stateBlock) {
    if (stateBlock.size() < logger_memory::stateBytes)
        return QString();
    const auto counter = [&](int first) {
        const auto byteAt = [&](int index) { return qint32(quint8(stateBlock.at(index))); };
        return double(DecodeMeterFloat(byteAt(first), byteAt(first + 1), byteAt(first + 2),
                                       byteAt(first + 3)));
    };
    const double used = counter(8);
    const double available = counter(12);
    // Counters out of any sense (negative, the meter's limit values) say nothing.
    if (used < 0 || available < 0 || used + available <= 0 || used + available > 1e9)
        return QString();
    if (available * 10 >= used + available)
        return QString();
    return QStringLiteral("Logger nearly full: %1 of %2 records available. Soon the oldest "
                          "records will be overwritten or logging will stop: collect and clear "
                          "the log in time.")
        .arg(CounterText(float(available)).trimmed(),
             CounterText(float(used + available)).trimmed());
}

} // namespace meterlink
