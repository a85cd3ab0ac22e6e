#pragma once

#include <QByteArray>

namespace meterlink {

// Modbus CRC-16: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.
quint16 crc16(const QByteArray& bytes);

// The frame followed by its CRC, low byte first, as it goes on the wire.
QByteArray withCrc(const QByteArray& frame);

} // namespace meterlink
