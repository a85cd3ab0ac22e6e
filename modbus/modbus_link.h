#pragma once

#include "clock.h"
#include "event_pump.h"
#include "link_failure.h"
#include "link_observer.h"
#include "serial_port.h"
#include "transaction_state.h"

#include "settings/settings.h"

#include <initializer_list>
#include <string>

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
    double now() const;
    bool openPort();
    bool beginTransaction(int functionCode, int slave);
    qint16 refuseBusy(int functionCode, int slave);
    qint16 rejectArguments(int functionCode, int slave);
    void sendRequest(QByteArray frame);
    void writeFrame(bool resend);
    bool awaitResponse(int expected, double resendAfter, double limit);
    qint16 takeBytes(int count);
    bool takeAnswerByte(int& value);
    QByteArray answerBytes() const;
    // Answer bytes 1 to count into HeaderBytes, through the CRC.
    bool takeHeaderBytes(int count);
    // Frame bytes appended in order, each through the CRC.
    void appendThroughCrc(QByteArray& bytes, std::initializer_list<int> values);
    // count data bytes into ResponseData through the CRC (each also into eachByte when
    // given); on a missing byte, ResponseData keeps the ones taken.
    bool takeResponseData(int count, qint32* eachByte);
    qint16 compareResponseCrc();
    qint16 fail(LinkFault fault, int exceptionCode = -1);
    qint16 succeed();
    void report(const QString& what);

    SerialPort& port_;
    Clock& clock_;
    EventPump& pump_;
    const Settings& settings_;
    QString deviceOverride_;
    LinkObserver* observer_ = nullptr;
    TransactionState state_;
    LinkFailure failure_;
    bool busy_ = false;

    // The transaction in progress: its request as written, and the answer's bytes so far.
    int function_ = 0;
    int slave_ = 0;
    QByteArray request_;
    std::string answer_; // the bytes of the answer being taken, for reasons and the trace
    int sends_ = 0;
    QString writeError_;
    // What the port was opened with; a later change of the settings does not reach it.
    QString openedDevice_;
    qint32 openedBaud_ = 0;
};

} // namespace meterlink
