#include "platform/make_serial_port.h"

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

std::unique_ptr<SerialPort> makeSerialPort() {
    return std::make_unique<SystemSerialPort>();
}

bool isPolling(const SerialPort& port) {
    const auto* system = dynamic_cast<const SystemSerialPort*>(&port);
    return system && system->polling();
}

bool hasArrivedInput(const SerialPort& port) {
#ifdef METERLINK_POSIX_SERIAL_PORT
    const auto* system = dynamic_cast<const PosixSerialPort*>(&port);
    return system && system->inputArrived();
#else
    Q_UNUSED(port);
    return false;
#endif
}

void pairPumpWithPort(QtEventPump& pump, const SerialPort& port) {
    pump.setWaitCondition([&port] { return isPolling(port); });
    pump.setSkipCondition([&port] { return hasArrivedInput(port); });
}

} // namespace meterlink
