#pragma once

#include "modbus/serial_port.h"

#include <QSerialPort>

namespace meterlink {

// The link's port over QSerialPort: 8N1, no handshaking. Received bytes reach
// bytesWaiting() only when the event loop runs the port's notifier, as the
// application's event pump does in every wait.
class QtSerialPort : public SerialPort {
public:
    QtSerialPort() = default;

    void configure(const QString& deviceName, qint32 baud) override;
    bool open() override;
    bool isOpen() const override { return port_.isOpen(); }
    QString errorText() const override { return error_; }
    qint64 bytesWaiting() override { return port_.bytesAvailable(); }
    void discardInput() override { port_.clear(QSerialPort::Input); }
    void discardOutput() override { port_.clear(QSerialPort::Output); }
    bool write(const QByteArray& frame) override;
    QByteArray take(qint64 count) override { return port_.read(count); }

private:
    QSerialPort port_;
    qint32 baud_ = 9600;
    QString error_;
};

} // namespace meterlink
