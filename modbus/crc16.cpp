#include "modbus/crc16.h"

namespace meterlink {

namespace {

constexpr std::array<quint16, 256> makeCrcFolds() {
    std::array<quint16, 256> folds{};
    for (int low = 0; low < 256; ++low) {
        int reg = low;
        for (int i = 0; i < 8; ++i) {
            const int bit = reg & 1;
            reg >>= 1;
            if (bit) {
                reg ^= 0xA001;
            }
        }
        folds[size_t(low)] = quint16(reg);
    }
    return folds;
}

} // namespace

const std::array<quint16, 256> crcFolds = makeCrcFolds();

quint16 crc16(const QByteArray& bytes) {
    quint16 crc = 0xFFFF;
    for (const char c : bytes) {
        crc = crcUpdate(crc, quint8(c));
    }
    return crc;
}

QByteArray withCrc(const QByteArray& frame) {
    const quint16 crc = crc16(frame);
    QByteArray out = frame;
    out.append(char(crc & 0xFF));
    out.append(char(crc >> 8));
    return out;
}

} // namespace meterlink
