#include "modbus/crc16.h"

namespace meterlink {

namespace {

constexpr std::array<CrcStep, 256> makeCrcSteps() {
    std::array<CrcStep, 256> steps{};
    for (int low = 0; low < 256; ++low) {
        int reg = low;
        int bit = 0;
        for (int i = 0; i < 8; ++i) {
            bit = reg & 1;
            reg >>= 1;
            if (bit) {
                reg ^= 0xA001;
            }
        }
        steps[size_t(low)].fold = quint16(reg);
        steps[size_t(low)].lastBit = qint16(bit);
    }
    return steps;
}

} // namespace

const std::array<CrcStep, 256> crcSteps = makeCrcSteps();

quint16 crc16(const QByteArray& bytes) {
    quint16 crc = 0xFFFF;
    qint16 lastBit = 0;
    for (const char c : bytes) {
        crc = crcUpdate(crc, quint8(c), lastBit);
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
