#include "modbus/modbus_link.h"

#include "modbus/crc16.h"
#include "modbus/link_logging.h"
#include "settings/numeric_value.h"
#include "settings/serial_port_name.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>

namespace meterlink {

namespace {

// The waits count in whole seconds of the time of day.
double wholeSecond(double timeOfDay) {
    return std::nearbyint(timeOfDay);
}

bool isByte(int value) {
    return value >= 0 && value <= 255;
}

bool allBytes(std::initializer_list<int> values) {
    return std::all_of(values.begin(), values.end(), isByte);
}

// The line speed a baud text stands for: its numeric value, 0 when that is no speed at all.
qint32 baudFromText(const QString& text) {
    const double value = std::nearbyint(numericValue(text));
    if (!std::isfinite(value) || value < 1 || value > 100000000) {
        return 0;
    }
    return qint32(value);
}

// The exception code when the bytes begin with a Modbus exception answer to this request.
int exceptionCodeOf(const QByteArray& bytes, int slave, int functionCode) {
    if (bytes.size() < 5 || quint8(bytes[0]) != slave ||
        quint8(bytes[1]) != (functionCode | 0x80) || crc16(bytes.left(5)) != 0) {
        return -1;
    }
    return quint8(bytes[2]);
}

// Eight shifts of the CRC register depend only on its low byte: what they fold into the
// register, and the last bit they shift out, worked out once for every low byte.
struct CrcStep {
    qint32 fold = 0;
    qint16 lastBit = 0;
};

constexpr std::array<CrcStep, 256> makeCrcSteps() {
    std::array<CrcStep, 256> steps{};
    for (int low = 0; low < 256; ++low) {
        qint32 reg = low;
        qint16 bit = 0;
        for (int i = 0; i < 8; ++i) {
            bit = qint16(reg & 1);
            reg >>= 1;
            if (bit) {
                reg ^= 0xA001;
            }
        }
        steps[size_t(low)].fold = reg;
        steps[size_t(low)].lastBit = bit;
    }
    return steps;
}

constexpr std::array<CrcStep, 256> crcSteps = makeCrcSteps();

class BusyGuard {
public:
    explicit BusyGuard(bool& busy) : busy_(busy) { busy_ = true; }
    ~BusyGuard() { busy_ = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    bool& busy_;
};

} // namespace

ModbusLink::ModbusLink(SerialPort& port, Clock& clock, EventPump& pump, const Settings& settings)
    : port_(port), clock_(clock), pump_(pump), settings_(settings) {}

void ModbusLink::setDeviceOverride(const QString& device) {
    deviceOverride_ = device;
}

void ModbusLink::setObserver(LinkObserver* observer) {
    observer_ = observer;
}

double ModbusLink::now() const {
    return clock_.secondsSinceMidnight();
}

void ModbusLink::report(const QString& what) {
    qCDebug(lcLink) << what;
    if (observer_) {
        observer_->linkEvent(now(), what);
    }
}

qint32 ModbusLink::CrcUpdate(qint32 value) {
    // Only byte values belong here; masking keeps the register within 16 bits whatever comes.
    const qint32 reg = (state_.CrcRegister ^ (value & 0xFF)) & 0xFFFF;
    const CrcStep& step = crcSteps[size_t(reg & 0xFF)];
    state_.CrcBit = step.lastBit;
    state_.CrcRegister = (reg >> 8) ^ step.fold;
    return state_.CrcRegister;
}

bool ModbusLink::openPort() {
    if (port_.isOpen()) {
        return true;
    }
    const QString device =
        deviceOverride_.isEmpty() ? serialDeviceName(settings_.PortNumber) : deviceOverride_;
    const qint32 baud = baudFromText(settings_.BaudText);
    openedDevice_ = device;
    openedBaud_ = baud;
    QString reason;
    if (baud <= 0) {
        reason = QStringLiteral("baud rate \"%1\" is not a number").arg(settings_.BaudText);
    } else {
        port_.configure(device, baud);
        if (!port_.open() || !port_.isOpen()) {
            reason = port_.errorText();
        }
    }
    if (reason.isNull()) {
        qCDebug(lcLink) << "opened" << device << "at" << baud << "baud";
        return true;
    }
    if (reason.isEmpty()) {
        reason = QStringLiteral("the port did not open");
    }
    failure_ = LinkFailure{};
    failure_.fault = LinkFault::PortNotOpened;
    failure_.functionCode = function_;
    failure_.slave = slave_;
    failure_.device = device;
    failure_.baud = baud;
    failure_.osReason = reason;
    report(describe(failure_));
    return false;
}

qint16 ModbusLink::OpenCommPort() {
    if (busy_) {
        // The running transaction owns the port; whatever it is, leave it alone.
        return port_.isOpen() ? -1 : 0;
    }
    return openPort() ? -1 : 0;
}

qint16 ModbusLink::ReadResponseBytes(int count) {
    if (busy_ || count <= 0) {
        // Taking now would steal the running transaction's answer.
        return 0;
    }
    return takeBytes(count);
}

qint16 ModbusLink::takeBytes(int count) {
    // The start second matters only once the bytes are not there yet; the clock is not read
    // for every byte of an answer that has arrived.
    double start = -1.0;
    for (;;) {
        if (port_.bytesWaiting() >= count) {
            if (count == 1) {
                char byte = 0;
                if (port_.takeInto(&byte, 1) != 1) {
                    return 0;
                }
                if (state_.RxBytes.size() != 1) {
                    state_.RxBytes.resize(1);
                }
                state_.RxBytes.data()[0] = byte;
                return -1;
            }
            QByteArray bytes = port_.take(count);
            if (bytes.size() != count) {
                return 0;
            }
            state_.RxBytes = bytes;
            return -1;
        }
        if (start < 0) {
            start = wholeSecond(now());
        }
        pump_.yield();
        const double t = now();
        if (t < start - 1.0) {
            // Midnight passed (or the clock was set back): count from the new time.
            start = wholeSecond(t);
        }
        if (t > start + 2.0) {
            return 0;
        }
    }
}

qint16 ModbusLink::refuseBusy(int functionCode, int slave) {
    // The running transaction's state and failure stay as they are; only the trace hears of it.
    LinkFailure refusal;
    refusal.fault = LinkFault::Busy;
    refusal.functionCode = functionCode;
    refusal.slave = slave;
    report(describe(refusal));
    return 0;
}

qint16 ModbusLink::rejectArguments(int functionCode, int slave) {
    failure_ = LinkFailure{};
    failure_.fault = LinkFault::BadArgument;
    failure_.functionCode = functionCode;
    failure_.slave = slave;
    report(describe(failure_));
    return 0;
}

bool ModbusLink::beginTransaction(int functionCode, int slave) {
    function_ = functionCode;
    slave_ = slave;
    sends_ = 0;
    writeError_.clear();
    answer_.clear();
    request_.clear();
    pump_.yield();
    if (!openPort()) {
        return false;
    }
    port_.discardInput();
    port_.discardOutput();
    pump_.yield();
    return true;
}

void ModbusLink::sendRequest(QByteArray frame) {
    state_.RequestCrcHi = (state_.CrcRegister & 0xFF00) / 256;
    state_.RequestCrcLo = state_.CrcRegister & 0xFF;
    frame.append(char(state_.RequestCrcLo));
    frame.append(char(state_.RequestCrcHi));
    request_ = frame;
    writeFrame(false);
}

void ModbusLink::writeFrame(bool resend) {
    qCDebug(lcLink) << (resend ? "resend" : "send") << request_.toHex(' ');
    if (observer_) {
        observer_->frameSent(now(), request_, resend);
    }
    if (port_.write(request_)) {
        ++sends_;
    } else {
        writeError_ = port_.errorText();
        qCDebug(lcLink) << "write refused:" << writeError_;
    }
}

bool ModbusLink::awaitResponse(int expected, double resendAfter, double limit) {
    // On a slow line the answer may need longer than the fixed figures allow.
    if (openedBaud_ > 0) {
        const double line = double(request_.size() + expected) * 10.0 / openedBaud_;
        if (line > resendAfter / 2) {
            resendAfter = 2 * line;
        }
        if (line > limit / 2) {
            limit = 2 * line;
        }
    }
    double lastSend = wholeSecond(now());
    double start = lastSend;
    for (;;) {
        pump_.yield();
        const qint64 waiting = port_.bytesWaiting();
        state_.ReceivedCount = qint16(std::clamp<qint64>(waiting, 0, 32767));
        if (waiting >= expected) {
            return true;
        }
        if (!port_.isOpen()) {
            // The device went away: nothing more can come, and the next transaction reopens.
            if (writeError_.isEmpty()) {
                writeError_ = port_.errorText();
            }
            break;
        }
        const double t = now();
        if (t < lastSend) {
            lastSend = wholeSecond(t);
        }
        if (t - lastSend <= resendAfter) {
            continue;
        }
        if (t < start) {
            start = wholeSecond(t);
        }
        if (t - start >= limit) {
            break;
        }
        writeFrame(true);
        lastSend = wholeSecond(now());
    }
    // Whatever did come may say why: an exception answer is the usual case.
    const QByteArray rest = port_.take(std::max<qint64>(0, port_.bytesWaiting()));
    answer_.assign(rest.constData(), size_t(rest.size()));
    if (!answer_.empty()) {
        qCDebug(lcLink) << "received" << answerBytes().toHex(' ');
        if (observer_) {
            observer_->frameReceived(now(), answerBytes());
        }
    }
    fail(LinkFault::NoAnswer, exceptionCodeOf(answerBytes(), slave_, function_));
    return false;
}

QByteArray ModbusLink::answerBytes() const {
    return QByteArray(answer_.data(), qsizetype(answer_.size()));
}

bool ModbusLink::takeAnswerByte(int& value) {
    if (takeBytes(1) != -1) {
        // A byte that never came is not read as the one before it: the answer is incomplete.
        qCDebug(lcLink) << "received" << answerBytes().toHex(' ') << "(stopped)";
        if (observer_) {
            observer_->frameReceived(now(), answerBytes());
        }
        fail(LinkFault::AnswerStopped, exceptionCodeOf(answerBytes(), slave_, function_));
        return false;
    }
    const char byte = state_.RxBytes.constData()[0];
    value = quint8(byte);
    answer_.push_back(byte);
    return true;
}

bool ModbusLink::takeHeaderBytes(int count) {
    int b = 0;
    for (int i = 1; i <= count; ++i) {
        if (!takeAnswerByte(b)) {
            return false;
        }
        state_.HeaderBytes[i] = b;
        if (i == 1) {
            // The answer's CRC starts with its first byte.
            state_.CrcRegister = 0xFFFF;
        }
        state_.CrcRegister = CrcUpdate(b);
    }
    return true;
}

void ModbusLink::appendThroughCrc(QByteArray& bytes, std::initializer_list<int> values) {
    for (const int b : values) {
        bytes.append(char(b));
        state_.CrcRegister = CrcUpdate(b);
    }
}

bool ModbusLink::takeResponseData(int count, qint32* eachByte) {
    // Emptied, then as long as the bytes taken: sized once and filled in place.
    state_.ResponseData.resize(count);
    int b = 0;
    for (int i = 0; i < count; ++i) {
        if (!takeAnswerByte(b)) {
            state_.ResponseData.truncate(i);
            return false;
        }
        if (eachByte) {
            *eachByte = b;
        }
        state_.ResponseData.data()[i] = char(b);
        state_.CrcRegister = CrcUpdate(b);
    }
    return true;
}

qint16 ModbusLink::compareResponseCrc() {
    state_.ResponseCrcHi = (state_.CrcRegister & 0xFF00) / 256;
    state_.ResponseCrcLo = state_.CrcRegister & 0xFF;
    int receivedLo = 0;
    int receivedHi = 0;
    if (!takeAnswerByte(receivedLo) || !takeAnswerByte(receivedHi)) {
        return 0;
    }
    qCDebug(lcLink) << "received" << answerBytes().toHex(' ');
    if (observer_) {
        observer_->frameReceived(now(), answerBytes());
    }
    if (state_.ResponseCrcHi != receivedHi || state_.ResponseCrcLo != receivedLo) {
        return fail(LinkFault::CrcMismatch);
    }
    return succeed();
}

qint16 ModbusLink::fail(LinkFault fault, int exceptionCode) {
    failure_ = LinkFailure{};
    failure_.fault = fault;
    failure_.functionCode = function_;
    failure_.slave = slave_;
    failure_.device = openedDevice_;
    failure_.baud = openedBaud_;
    failure_.sends = sends_;
    failure_.bytesTaken = int(answer_.size());
    failure_.exceptionCode = exceptionCode;
    failure_.osReason = writeError_;
    report(describe(failure_));
    return 0;
}

qint16 ModbusLink::succeed() {
    failure_ = LinkFailure{};
    failure_.functionCode = function_;
    failure_.slave = slave_;
    failure_.device = openedDevice_;
    failure_.baud = openedBaud_;
    failure_.sends = sends_;
    failure_.bytesTaken = int(answer_.size());
    return -1;
}

qint16 ModbusLink::ReadHoldingRegisters(int slave, int addressHi, int addressLo, int count) {
    if (busy_) {
        return refuseBusy(3, slave);
    }
    if (!allBytes({slave, addressHi, addressLo, count})) {
        return rejectArguments(3, slave);
    }
    BusyGuard guard(busy_);
    if (!beginTransaction(3, slave)) {
        return 0;
    }

    state_.CrcRegister = 0xFFFF;
    state_.FunctionCode = 3;
    state_.SlaveAddress = slave;
    state_.QuantityHi = qint16(count / 256);
    state_.QuantityLo = qint16(count & 255);
    QByteArray frame;
    appendThroughCrc(frame, {slave, 3, addressHi, addressLo, state_.QuantityHi, state_.QuantityLo});
    sendRequest(frame);
    pump_.yield();

    if (!awaitResponse(2 * state_.QuantityLo + 5, 1.0, 3.0)) {
        return 0;
    }
    if (!takeHeaderBytes(3)) {
        return 0;
    }
    // Each data byte passes through header byte 4 on its way.
    if (!takeResponseData(state_.HeaderBytes[3], &state_.HeaderBytes[4])) {
        return 0;
    }
    return compareResponseCrc();
}

qint16 ModbusLink::WriteMultipleRegisters(int slave, int startAddress, int count, int byteCount) {
    if (busy_) {
        return refuseBusy(16, slave);
    }
    bool valuesFit = count >= 1 && count <= 36;
    for (int i = 1; valuesFit && i <= count; ++i) {
        valuesFit = isByte(state_.WriteHiBytes[i]) && isByte(state_.WriteLoBytes[i]);
    }
    if (!valuesFit || !allBytes({slave, byteCount}) || startAddress < 0 || startAddress > 65535) {
        return rejectArguments(16, slave);
    }
    BusyGuard guard(busy_);
    if (!beginTransaction(16, slave)) {
        return 0;
    }

    state_.FunctionCode = 16;
    state_.SlaveAddress = slave;
    state_.StartAddress = startAddress;
    state_.QuantityHi = qint16(count / 256);
    state_.QuantityLo = qint16(count & 255);
    state_.CrcRegister = 0xFFFF;
    QByteArray frame;
    appendThroughCrc(frame, {slave, 16, startAddress / 256, startAddress & 255, state_.QuantityHi,
                             state_.QuantityLo, byteCount});
    state_.WriteData.clear();
    for (int i = 1; i <= count; ++i) {
        appendThroughCrc(state_.WriteData, {state_.WriteHiBytes[i], state_.WriteLoBytes[i]});
    }
    sendRequest(frame + state_.WriteData);
    pump_.yield();

    if (!awaitResponse(8, 1.0, 3.0)) {
        return 0;
    }
    if (!takeHeaderBytes(6)) {
        return 0;
    }
    return compareResponseCrc();
}

qint16 ModbusLink::ReadLogBlock(int slave, int bank, int addressHi, int addressLo, int length) {
    if (busy_) {
        return refuseBusy(96, slave);
    }
    if (!allBytes({slave, bank, addressHi, addressLo}) || length < 0 || length > 32767) {
        return rejectArguments(96, slave);
    }
    BusyGuard guard(busy_);
    if (!beginTransaction(96, slave)) {
        return 0;
    }

    state_.CrcRegister = 0xFFFF;
    state_.FunctionCode = 96;
    state_.SlaveAddress = slave;
    state_.QuantityHi = qint16(length / 256);
    state_.QuantityLo = qint16(length & 255);
    QByteArray frame;
    appendThroughCrc(frame,
                     {slave, 96, bank, addressHi, addressLo, state_.QuantityHi, state_.QuantityLo});
    sendRequest(frame);
    pump_.yield();

    if (!awaitResponse(state_.QuantityHi * 256 + state_.QuantityLo, 4.0, 3.0)) {
        return 0;
    }
    if (!takeHeaderBytes(6)) {
        return 0;
    }
    int countLo = 0;
    if (!takeAnswerByte(countLo)) {
        return 0;
    }
    state_.CrcRegister = CrcUpdate(countLo);
    if (!takeResponseData(state_.HeaderBytes[6] * 256 + countLo, nullptr)) {
        return 0;
    }
    return compareResponseCrc();
}

} // namespace meterlink
