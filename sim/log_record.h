#pragma once

#include <QByteArray>
#include <QDateTime>

namespace meterlink {

// The meter's 4-byte number: IEEE single precision, most significant byte first.
QByteArray encodeMeterFloat(float value);
float decodeMeterFloatBits(const QByteArray& fourBytes);

// One 8-byte log record: channel<<4 | month, day, hour, minute (BCD), reading.
QByteArray encodeRecord(int channel, int month, int day, int hour, int minute, float value);

quint8 toBcd(int value);
// A BCD byte read digit by digit (0x25 -> 25); nibbles above 9 count as they stand.
int fromBcd(quint8 bcd);

// A record as the log holds it: the raw bytes and what they say. Records from raw
// bytes may carry fields no clock could produce; `raw` is always what goes on the wire.
struct LogRecord {
    int channel = 0;
    int year = 2001;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    float value = 0.0f;
    QByteArray raw;

    static LogRecord fromRaw(const QByteArray& eightBytes, int year = 2001);
    static LogRecord make(int channel, const QDateTime& when, float value);
    // Invalid when the fields do not form a date and time.
    QDateTime timestamp() const;
    // "channel,YYYY-MM-DD HH:MM,value" with the value as %.7g.
    QByteArray exportLine() const;
};

} // namespace meterlink
