#include "sim/log_record.h"

#include <cstring>

namespace meterlink {

QByteArray encodeMeterFloat(float value) {
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((bits >> (24 - 8 * i)) & 0xFF);
    return out;
}

float decodeMeterFloatBits(const QByteArray& fourBytes) {
    quint32 bits = 0;
    for (int i = 0; i < 4 && i < fourBytes.size(); ++i)
        bits |= static_cast<quint32>(static_cast<quint8>(fourBytes.at(i))) << (24 - 8 * i);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

quint8 toBcd(int value) {
    value = qBound(0, value, 99);
    return static_cast<quint8>(((value / 10) << 4) | (value % 10));
}

int fromBcd(quint8 bcd) {
    return (bcd >> 4) * 10 + (bcd & 0x0F);
}

QByteArray encodeRecord(int channel, int month, int day, int hour, int minute, float value) {
    QByteArray out;
    out.append(static_cast<char>(((channel & 0x0F) << 4) | (month & 0x0F)));
    out.append(static_cast<char>(toBcd(day)));
    out.append(static_cast<char>(toBcd(hour)));
    out.append(static_cast<char>(toBcd(minute)));
    out.append(encodeMeterFloat(value));
    return out;
}

LogRecord LogRecord::fromRaw(const QByteArray& eightBytes, int year) {
    LogRecord r;
    r.raw = eightBytes.left(8);
    r.raw.append(QByteArray(8 - r.raw.size(), '\xFF'));
    const auto byte = [&](int i) { return static_cast<quint8>(r.raw.at(i)); };
    r.channel = byte(0) >> 4;
    r.month = byte(0) & 0x0F;
    r.day = fromBcd(byte(1));
    r.hour = fromBcd(byte(2));
    r.minute = fromBcd(byte(3));
    r.year = year;
    r.value = decodeMeterFloatBits(r.raw.mid(4, 4));
    return r;
}

LogRecord LogRecord::make(int channel, const QDateTime& when, float value) {
    const QDate d = when.date();
    const QTime t = when.time();
    LogRecord r = fromRaw(encodeRecord(channel, d.month(), d.day(), t.hour(), t.minute(), value));
    r.year = d.year();
    return r;
}

QDateTime LogRecord::timestamp() const {
    return QDateTime(QDate(year, month, day), QTime(hour, minute));
}

QByteArray LogRecord::exportLine() const {
    return QByteArray::number(channel) + ',' +
           QString::asprintf("%04d-%02d-%02d %02d:%02d", year, month, day, hour, minute)
               .toLatin1() +
           ',' + QString::asprintf("%.7g", static_cast<double>(value)).toLatin1();
}

} // namespace meterlink
