#pragma once

#include <QByteArray>

#include <array>

namespace meterlink {

// Modbus CRC-16: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.

// Eight shifts of the register depend only on its low byte: what they fold into the
// register, worked out once for every low byte.
extern const std::array<quint16, 256> crcFolds;

// One byte into the register.
inline quint16 crcUpdate(quint16 reg, quint8 byte) {
    return quint16((reg >> 8) ^ crcFolds[quint8(reg ^ byte)]);
}

quint16 crc16(const QByteArray& bytes);

// The frame followed by its CRC, low byte first, as it goes on the wire.
QByteArray withCrc(const QByteArray& frame);

} // namespace meterlink
