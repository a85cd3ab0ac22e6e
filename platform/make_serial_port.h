#pragma once

#include "modbus/serial_port.h"
#include "platform/qt_event_pump.h"

#include <memory>

namespace meterlink {

// The system's serial port for the link: straight over the terminal device on Unix,
// over QSerialPort elsewhere (and on Unix in a build with METERLINK_QT_SERIAL_PORT); a
// device named tcp://HOST:PORT is a serial line behind a network gateway instead.
std::unique_ptr<SerialPort> makeSerialPort();

// True when the port is waiting for input, so that an event pump may sleep until it
// comes (see QtEventPump::setWaitCondition). Ports of other kinds never wait.
bool isPolling(const SerialPort& port);

// True when input came since the port's latest look (see QtEventPump::setSkipCondition).
bool hasArrivedInput(const SerialPort& port);

// What is left of the port's hold on its input (see SerialPort::awaitInput), in ms.
int holdMilliseconds(const SerialPort& port);

// Lets the pump sleep only while the link waits for this port's input, and not once it has
// come: the steps around a transaction then cost no timer tick. The port must outlive the
// pump's use.
void pairPumpWithPort(QtEventPump& pump, const SerialPort& port);

} // namespace meterlink
