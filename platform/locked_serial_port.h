#pragma once

#include "modbus/serial_port.h"
#include "platform/port_lock.h"

namespace meterlink {

// A port that takes the line's lock before it opens and keeps it while the program runs,
// so that a command-line run and the window never share a line. A line held by another
// program does not open; errorText() names the holder.
class LockedSerialPort : public SerialPort {
public:
    explicit LockedSerialPort(SerialPort& port) : port_(port) {}

    void configure(const QString& deviceName, qint32 baud) override {
        device_ = deviceName;
        port_.configure(deviceName, baud);
    }
    bool open() override;
    bool isOpen() const override { return port_.isOpen(); }
    QString errorText() const override { return refusal_.isEmpty() ? port_.errorText() : refusal_; }
    qint64 bytesWaiting() override { return port_.bytesWaiting(); }
    void discardInput() override { port_.discardInput(); }
    void discardOutput() override { port_.discardOutput(); }
    bool write(const QByteArray& frame) override { return port_.write(frame); }
    QByteArray take(qint64 count) override { return port_.take(count); }
    qint64 takeInto(char* into, qint64 count) override { return port_.takeInto(into, count); }
    bool awaitInput(double holdSeconds) override { return port_.awaitInput(holdSeconds); }

private:
    SerialPort& port_;
    PortLock lock_;
    QString device_;
    QString refusal_;
};

} // namespace meterlink
