#include "modbus_link.h"

namespace meterlink {

ModbusLink::ModbusLink(SerialPort& port, Clock& clock, EventPump& pump, const Settings& settings)
    : port_(port), clock_(clock), pump_(pump), settings_(settings) {}

} // namespace meterlink
