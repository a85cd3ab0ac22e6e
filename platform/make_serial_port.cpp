#include "platform/make_serial_port.h"

#include "platform/tcp_device.h"
#include "platform/tcp_port.h"

#include <QtGlobal>

// A build may choose the QSerialPort adapter on Unix too, so that the path Windows takes is
// tested here.
#if defined(Q_OS_UNIX) && !defined(METERLINK_QT_SERIAL_PORT)
#define METERLINK_POSIX_SERIAL_PORT
#include "platform/posix_serial_port.h"
#else
#include "platform/qt_serial_port.h"
#endif

namespace meterlink {

#ifdef METERLINK_POSIX_SERIAL_PORT
using SystemSerialPort = PosixSerialPort;
#else
using SystemSerialPort = QtSerialPort;
#endif

namespace {

// The system's serial port, or a gateway's connection when the device is tcp://HOST:PORT;
// chosen at each configure(), which the link calls only while nothing is open.
class DevicePort : public SerialPort {
public:
    void configure(const QString& deviceName, qint32 baud) override {
        if (isTcpDeviceName(deviceName)) {
            if (!tcp_)
                tcp_ = std::make_unique<TcpPort>();
            current_ = tcp_.get();
        } else {
            current_ = &serial_;
        }
        current_->configure(deviceName, baud);
    }
    bool open() override { return current_->open(); }
    bool isOpen() const override { return current_->isOpen(); }
    QString errorText() const override { return current_->errorText(); }
    qint64 bytesWaiting() override { return current_->bytesWaiting(); }
    void discardInput() override { current_->discardInput(); }
    void discardOutput() override { current_->discardOutput(); }
    bool write(const QByteArray& frame) override { return current_->write(frame); }
    QByteArray take(qint64 count) override { return current_->take(count); }
    qint64 takeInto(char* into, qint64 count) override { return current_->takeInto(into, count); }
    bool awaitInput(double holdSeconds) override { return current_->awaitInput(holdSeconds); }

    bool polling() const { return current_ == tcp_.get() ? tcp_->polling() : serial_.polling(); }
    int holdMilliseconds() const {
#ifdef METERLINK_POSIX_SERIAL_PORT
        if (current_ == &serial_)
            return serial_.holdMilliseconds();
#endif
        return 0;
    }
    bool inputArrived() const {
        if (current_ == tcp_.get())
            return tcp_->inputArrived();
#ifdef METERLINK_POSIX_SERIAL_PORT
        return serial_.inputArrived();
#else
        return false;
#endif
    }

private:
    SystemSerialPort serial_;
    std::unique_ptr<TcpPort> tcp_;
    SerialPort* current_ = &serial_;
};

} // namespace

std::unique_ptr<SerialPort> makeSerialPort() {
    return std::make_unique<DevicePort>();
}

bool isPolling(const SerialPort& port) {
    if (const auto* device = dynamic_cast<const DevicePort*>(&port))
        return device->polling();
    const auto* system = dynamic_cast<const SystemSerialPort*>(&port);
    return system && system->polling();
}

bool hasArrivedInput(const SerialPort& port) {
    const auto* device = dynamic_cast<const DevicePort*>(&port);
    return device && device->inputArrived();
}

int holdMilliseconds(const SerialPort& port) {
    const auto* device = dynamic_cast<const DevicePort*>(&port);
    return device ? device->holdMilliseconds() : 0;
}

void pairPumpWithPort(QtEventPump& pump, const SerialPort& port) {
    pump.setWaitCondition([&port] { return isPolling(port); });
    pump.setSkipCondition([&port] { return hasArrivedInput(port); });
    pump.setSleepAllowance([&port] { return holdMilliseconds(port); });
}

} // namespace meterlink
