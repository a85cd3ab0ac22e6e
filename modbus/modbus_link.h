#pragma once

#include "clock.h"
#include "event_pump.h"
#include "link_failure.h"
#include "link_observer.h"
#include "serial_port.h"
#include "transaction_state.h"

#include "settings/settings.h"

namespace meterlink {

// The Modbus RTU master: one transaction at a time over one serial port.
// Results are -1 for success and 0 for failure.
class ModbusLink {
public:
    ModbusLink(SerialPort& port, Clock& clock, EventPump& pump, const Settings& settings);

    // Opens this device instead of the one PortNumber names (command-line --device).
    void setDeviceOverride(const QString& device);
    void setObserver(LinkObserver* observer);

    qint16 OpenCommPort();
    qint32 CrcUpdate(qint32 value);
    qint16 ReadResponseBytes(int count);

    qint16 ReadHoldingRegisters(int slave, int addressHi, int addressLo, int count);
    qint16 WriteMultipleRegisters(int slave, int startAddress, int count, int byteCount);
    qint16 ReadLogBlock(int slave, int bank, int addressHi, int addressLo, int length);

    TransactionState& state() { return state_; }
    const TransactionState& state() const { return state_; }
    // True while a transaction waits; a transaction started now is refused.
    bool busy() const { return busy_; }
    const LinkFailure& lastFailure() const { return failure_; }

private:
    SerialPort& port_;
    Clock& clock_;
    EventPump& pump_;
    const Settings& settings_;
    QString deviceOverride_;
    LinkObserver* observer_ = nullptr;
    TransactionState state_;
    LinkFailure failure_;
    bool busy_ = false;
};

} // namespace meterlink
