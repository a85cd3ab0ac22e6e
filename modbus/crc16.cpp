#include "modbus/crc16.h"

namespace meterlink {

quint16 crc16(const QByteArray& bytes) {
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit) {
            const bool low = crc & 1;
            crc >>= 1;
            if (low) {
                crc ^= 0xA001;
            }
        }
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
