#include "platform/qt_serial_port.h"

#include <QDir>

namespace meterlink {

QtSerialPort::QtSerialPort() {
    QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
        // A read that fails on an open port is the device going away on Unix; Windows says
        // so with a resource error.
        if (port_.isOpen() && (e == QSerialPort::ResourceError || e == QSerialPort::ReadError))
            lose(port_.errorString());
    });
}

void QtSerialPort::configure(const QString& deviceName, qint32 baud) {
    device_ = deviceName;
#ifdef Q_OS_UNIX
    // QSerialPort looks for a bare name under /dev; the POSIX port, like any Unix program,
    // from the current folder (where a comN link may be).
    if (QDir::isRelativePath(deviceName) && !deviceName.isEmpty())
        port_.setPortName(QDir::current().absoluteFilePath(deviceName));
    else
#endif
        port_.setPortName(deviceName);
    baud_ = baud;
}

void QtSerialPort::lose(const QString& why) {
    error_ = QStringLiteral("device disappeared: %1: %2").arg(device_, why);
    polling_ = false;
    // Closed at once, or its notifier would fire again and again; the link learns of it at
    // its next look, as from the POSIX port, and that transaction fails with this reason.
    lossUnseen_ = true;
    port_.close();
}

bool QtSerialPort::lossSeen() {
    if (!lossUnseen_)
        return false;
    lossUnseen_ = false;
    return true;
}

qint64 QtSerialPort::bytesWaiting() {
    if (lossSeen())
        return 0;
    polling_ = true;
    return port_.bytesAvailable();
}

bool QtSerialPort::open() {
    lossUnseen_ = false;
    error_.clear();
    if (port_.isOpen()) {
        return true;
    }
    if (port_.portName().isEmpty()) {
        error_ = QStringLiteral("no device named");
        return false;
    }
    if (!port_.open(QIODevice::ReadWrite)) {
        error_ = QStringLiteral("%1: %2").arg(device_, port_.errorString());
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
    if (lossSeen() || !port_.isOpen()) {
        if (error_.isEmpty())
            error_ = QStringLiteral("%1: the port is not open").arg(device_);
        return false;
    }
    if (port_.write(frame) != frame.size()) {
        // Nothing else makes a write fail on an open port: the device is gone.
        if (port_.isOpen())
            lose(port_.errorString());
        return false;
    }
    // Onto the wire now rather than at the next pass of the event loop.
    port_.flush();
    return true;
}

} // namespace meterlink
