#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>

namespace meterlink {

// The handful of port operations the link needs. One implementation drives a real
// device through QSerialPort; another is an in-memory line to the simulated meter.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Chooses the device and line speed used by the next open(); 8N1, no handshaking.
    virtual void configure(const QString& deviceName, qint32 baud) = 0;
    virtual bool open() = 0;
    virtual bool isOpen() const = 0;
    // Why the last open() failed, in the operating system's words.
    virtual QString errorText() const = 0;
    // Bytes received and not yet taken.
    virtual qint64 bytesWaiting() = 0;
    virtual void discardInput() = 0;
    virtual void discardOutput() = 0;
    // Writes the whole frame at once; false when the port refused it.
    virtual bool write(const QByteArray& frame) = 0;
    // Takes up to count received bytes, oldest first.
    virtual QByteArray take(qint64 count) = 0;
    // The same into the caller's buffer; returns how many were taken. The link takes its
    // answers a byte at a time, so a port may spare the allocation take() costs.
    virtual qint64 takeInto(char* into, qint64 count) {
        const QByteArray bytes = take(count);
        std::copy(bytes.cbegin(), bytes.cend(), into);
        return bytes.size();
    }
    // The caller waits for more input and looks again after its next yields; the input it
    // waits for cannot all have come within `holdSeconds`. A port that can leave the input
    // with the system until then says true: it wakes the event pump when that time is up
    // (or, with no time to hold, when input comes), and only then does a look read, all
    // that came in one call. A hold asked during another never ends later than that one.
    // False: the port has no such mode, and the caller looks as it always does.
    virtual bool awaitInput(double holdSeconds) {
        (void)holdSeconds;
        return false;
    }
};

} // namespace meterlink
