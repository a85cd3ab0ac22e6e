#include "platform/qt_serial_port.h"

namespace meterlink {

void QtSerialPort::configure(const QString& deviceName, qint32 baud) {
    port_.setPortName(deviceName);
    baud_ = baud;
}

bool QtSerialPort::open() {
    error_.clear();
    if (port_.isOpen()) {
        return true;
    }
    if (port_.portName().isEmpty()) {
        error_ = QStringLiteral("no device named");
        return false;
    }
    if (!port_.open(QIODevice::ReadWrite)) {
        error_ = port_.errorString();
        return false;
    }
    const bool configured = port_.setBaudRate(baud_) && port_.setDataBits(QSerialPort::Data8) &&
                            port_.setParity(QSerialPort::NoParity) &&
                            port_.setStopBits(QSerialPort::OneStop) &&
                            port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        error_ = QStringLiteral("cannot set %1 baud 8N1: %2").arg(baud_).arg(port_.errorString());
        port_.close();
        return false;
    }
    return true;
}

bool QtSerialPort::write(const QByteArray& frame) {
    polling_ = false;
    if (port_.write(frame) != frame.size()) {
        error_ = port_.errorString();
        return false;
    }
    // Onto the wire now rather than at the next pass of the event loop.
    port_.flush();
    return true;
}

} // namespace meterlink
