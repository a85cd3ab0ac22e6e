#pragma once

#include <QByteArray>
#include <QString>

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
};

} // namespace meterlink
