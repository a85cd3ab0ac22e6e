#pragma once

#include "modbus/serial_port.h"

#include <memory>

namespace meterlink {

// The system's serial port for the link: straight over the terminal device on Unix,
// over QSerialPort elsewhere.
std::unique_ptr<SerialPort> makeSerialPort();

// True when the port is waiting for input, so that an event pump may sleep until it
// comes (see QtEventPump::setWaitCondition). Ports of other kinds never wait.
bool isPolling(const SerialPort& port);

// True when input came since the port's latest look (see QtEventPump::setSkipCondition).
bool hasArrivedInput(const SerialPort& port);

} // namespace meterlink
