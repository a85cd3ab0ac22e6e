#include "logger/logger_memory.h"

#include "logger/download_log.h"
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
    const qint32 start = byteAt(0) * DownloadLog::bankBytes + byteAt(2) * 256 + byteAt(3);
    const qint32 last = byteAt(4) * DownloadLog::bankBytes + byteAt(6) * 256 + byteAt(7);
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

} // namespace meterlink
