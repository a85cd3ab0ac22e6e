#pragma once

#include <QByteArray>

#include <array>

namespace meterlink {

// Modbus CRC-16: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.

// Eight shifts of the register depend only on its low byte: what they fold into the
// register, and the last bit they shift out, worked out once for every low byte.
struct CrcStep {
    quint16 fold = 0;
    qint16 lastBit = 0;
};
extern const std::array<CrcStep, 256> crcSteps;

// One byte into the register; `lastBit` receives the bit the eighth shift dropped.
inline quint16 crcUpdate(quint16 reg, quint8 byte, qint16& lastBit) {
    const CrcStep& step = crcSteps[quint8(reg ^ byte)];
    lastBit = step.lastBit;
    return quint16((reg >> 8) ^ step.fold);
}

quint16 crc16(const QByteArray& bytes);

// The frame followed by its CRC, low byte first, as it goes on the wire.
QByteArray withCrc(const QByteArray& frame);

} // namespace meterlink
