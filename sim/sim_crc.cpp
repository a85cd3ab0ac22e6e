#include "sim/sim_crc.h"

namespace meterlink {

quint16 simCrc16(const QByteArray& bytes) {
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0xA001) : (crc >> 1);
    }
    return crc;
}

QByteArray withSimCrc(const QByteArray& frame) {
    const quint16 crc = simCrc16(frame);
    QByteArray out = frame;
    out.append(static_cast<char>(crc & 0xFF));
    out.append(static_cast<char>(crc >> 8));
    return out;
}

bool hasValidSimCrc(const QByteArray& frame) {
    if (frame.size() < 3)
        return false;
    const quint16 crc = simCrc16(frame.left(frame.size() - 2));
    return static_cast<quint8>(frame.at(frame.size() - 2)) == (crc & 0xFF) &&
           static_cast<quint8>(frame.at(frame.size() - 1)) == (crc >> 8);
}

} // namespace meterlink
