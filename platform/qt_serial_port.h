#pragma once

#include "modbus/serial_port.h"

#include <QSerialPort>

namespace meterlink {

// The link's port over QSerialPort: 8N1, no handshaking. Received bytes reach
// bytesWaiting() only when the event loop runs the port's notifier, as the
// application's event pump does in every wait. A device that goes away (unplugged, or
// the far end of a pty closed) closes the port with the reason the POSIX port gives, so
// the waiting transaction ends and the next one opens the device again.
class QtSerialPort : public SerialPort {
public:
    QtSerialPort();

    void configure(const QString& deviceName, qint32 baud) override;
    bool open() override;
    bool isOpen() const override { return port_.isOpen() || lossUnseen_; }
    QString errorText() const override { return error_; }
    qint64 bytesWaiting() override;
    void discardInput() override {
        polling_ = false;
        if (port_.isOpen())
            port_.clear(QSerialPort::Input);
    }
    void discardOutput() override {
        if (port_.isOpen())
            port_.clear(QSerialPort::Output);
    }
    bool write(const QByteArray& frame) override;
    QByteArray take(qint64 count) override {
        polling_ = false;
        return port_.isOpen() ? port_.read(count) : QByteArray();
    }

    // True when the latest call looked for bytes and none were taken since: the caller is
    // waiting for input, and the event pump may sleep until it comes.
    bool polling() const { return polling_; }

private:
    void lose(const QString& why);
    bool lossSeen();

    QSerialPort port_;
    QString device_;
    qint32 baud_ = 9600;
    QString error_;
    bool polling_ = false;
    bool lossUnseen_ = false;
};

} // namespace meterlink
