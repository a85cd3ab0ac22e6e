#include "modbus/modbus_link.h"

#include "modbus/crc16.h"
#include "modbus/link_logging.h"

#include <algorithm>
#include <cmath>
#include <utility>

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

// The exception code when the bytes begin with a Modbus exception answer to this request.
int exceptionCodeOf(const QByteArray& bytes, int slave, int functionCode) {
    if (bytes.size() < 5 || quint8(bytes[0]) != slave ||
        quint8(bytes[1]) != (functionCode | 0x80) || crc16(bytes.left(5)) != 0) {
        return -1;
    }
    return quint8(bytes[2]);
}

// The frame bytes before the CRC: slave, function, then the row's own.
QByteArray frameOf(std::initializer_list<int> values) {
    QByteArray frame;
    frame.reserve(int(values.size()) + 2);
    for (const int b : values)
        frame.append(char(b));
    return frame;
}

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

ModbusLink::ModbusLink(SerialPort& port, Clock& clock, EventPump& pump, EndpointSource endpoint)
    : port_(port), clock_(clock), pump_(pump), endpoint_(std::move(endpoint)) {}

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

bool ModbusLink::beginSession() {
    if (sessionOpen_) {
        return false;
    }
    sessionOpen_ = true;
    aborted_ = false;
    return true;
}

void ModbusLink::endSession() {
    sessionOpen_ = false;
    aborted_ = false;
}

void ModbusLink::abort() {
    if (sessionOpen_) {
        aborted_ = true;
    }
}

qint32 ModbusLink::CrcUpdate(qint32 value) {
    // Only byte values belong here; masking keeps the register within 16 bits whatever comes.
    state_.CrcRegister = crcUpdate(quint16(state_.CrcRegister), quint8(value & 0xFF));
    return state_.CrcRegister;
}

QString ModbusLink::tryOpen(const LinkEndpoint& endpoint) {
    openedDevice_ = endpoint.device;
    openedBaud_ = endpoint.baud;
    QString reason;
    if (!endpoint.unusable.isEmpty()) {
        reason = endpoint.unusable;
    } else if (endpoint.baud <= 0) {
        reason = QStringLiteral("no line speed");
    } else {
        port_.configure(endpoint.device, endpoint.baud);
        if (!port_.open() || !port_.isOpen()) {
            reason = port_.errorText();
            if (reason.isEmpty()) {
                reason = QStringLiteral("the port did not open");
            }
        }
    }
    if (reason.isEmpty()) {
        qCDebug(lcLink) << "opened" << endpoint.device << "at" << endpoint.baud << "baud";
    }
    return reason;
}

bool ModbusLink::openPort() {
    if (port_.isOpen()) {
        return true;
    }
    if (firstOpened_) {
        return reopen();
    }
    const LinkEndpoint endpoint = endpoint_();
    const QString reason = tryOpen(endpoint);
    if (reason.isEmpty()) {
        firstOpened_ = endpoint;
        return true;
    }
    return failOpen(LinkFault::PortNotOpened, endpoint, reason);
}

bool ModbusLink::reopen() {
    // By the path first opened (a link or a by-id name stays one), so that another adapter
    // never takes the place of the one that went; at the speed first opened with.
    const LinkEndpoint endpoint = *firstOpened_;
    QString reason = tryOpen(endpoint);
    if (!reason.isEmpty() && !rideOutSpent_) {
        report(QStringLiteral("%1 went away; waiting up to %2 s for it to come back")
                   .arg(endpoint.device)
                   .arg(rideOutSeconds));
        // A new device node may refuse for a moment (its permissions are set after it
        // appears): any refusal is tried again, a tenth of a second apart.
        DayStopwatch waited(now());
        double lastTry = 0.0;
        for (double passed = 0.0; !reason.isEmpty() && passed < rideOutSeconds;
             passed = waited.look(now())) {
            pump_.rest();
            if (aborted_) {
                fail(LinkFault::Stopped);
                return false;
            }
            if (passed - lastTry >= 0.1) {
                lastTry = passed;
                reason = tryOpen(endpoint);
            }
        }
        rideOutSpent_ = !reason.isEmpty();
    }
    if (reason.isEmpty()) {
        rideOutSpent_ = false;
        return true;
    }
    return failOpen(LinkFault::DeviceGone, endpoint, reason);
}

bool ModbusLink::failOpen(LinkFault fault, const LinkEndpoint& endpoint, const QString& reason) {
    failure_ = LinkFailure{};
    failure_.fault = fault;
    failure_.functionCode = function_;
    failure_.slave = slave_;
    failure_.device = endpoint.device;
    failure_.baud = endpoint.baud;
    failure_.osReason = reason;
    report(describe(failure_));
    return false;
}

bool ModbusLink::takeBytes(int count) {
    // The start second matters only once the bytes are not there yet; the clock is not read
    // for every byte of an answer that has arrived.
    double start = -1.0;
    if (held_ < count) {
        // The port had fewer at its last look: looking now would ask the system for bytes
        // that cannot all be here. A port that can hold its input waits for them first.
        const double t = now();
        if (awaitAnswerBytes(count - held_, wholeSecond(t) + byteTakeLimit - t)) {
            start = wholeSecond(t);
            pump_.yield();
            if (aborted_) {
                return 0;
            }
        }
    }
    for (;;) {
        const qint64 waiting = port_.bytesWaiting();
        if (waiting >= count) {
            held_ = waiting - count;
            if (count == 1) {
                char byte = 0;
                if (port_.takeInto(&byte, 1) != 1) {
                    return false;
                }
                if (state_.RxBytes.size() != 1) {
                    state_.RxBytes.resize(1);
                }
                state_.RxBytes.data()[0] = byte;
                return true;
            }
            QByteArray bytes = port_.take(count);
            if (bytes.size() != count) {
                return false;
            }
            state_.RxBytes = bytes;
            return true;
        }
        held_ = waiting;
        if (start < 0) {
            start = wholeSecond(now());
        }
        awaitAnswerBytes(count - waiting, start + byteTakeLimit - now());
        pump_.yield();
        if (aborted_) {
            return false;
        }
        const double t = now();
        if (t < start - 1.0) {
            // Midnight passed (or the clock was set back): count from the new time.
            start = wholeSecond(t);
        }
        if (t > start + byteTakeLimit) {
            return false;
        }
    }
}

double ModbusLink::lineSeconds(qint64 bytes) const {
    return openedBaud_ > 0 && bytes > 0 ? double(bytes) * 10.0 / openedBaud_ : 0.0;
}

bool ModbusLink::awaitAnswerBytes(qint64 needed, double within) {
    // The whole answer cannot have come before the line has carried it since the request
    // went out (the meter starts it no sooner). The rest, counted from now, comes a character
    // time a byte after the one under way, unless the sender had fallen behind and catches
    // up in a burst: up to 5 ms, which the simulated meter allows itself. Less a margin for
    // a timer that fires late: waking early costs a look, waking late costs time.
    constexpr double catchUp = 0.005;
    constexpr double margin = 0.002;
    const TransactionRow* row = transactionRow(function_);
    const qint64 taken = qint64(answer_.size());
    const qint64 length =
        row ? answerLength(*row, waitedFor_, answer_.data(), int(answer_.size())) : 0;
    const qint64 missing = std::max(needed, length - taken - held_);
    double hold = lineSeconds(missing - 1) - catchUp;
    const double untilWhole = answerSentAt_ + lineSeconds(length) - now();
    if (answerSentAt_ > 0 && untilWhole <= lineSeconds(length)) {
        // (Past midnight the time of day starts again: the send looks a day away.)
        hold = std::max(hold, untilWhole);
    }
    return port_.awaitInput(std::clamp(std::min(hold - margin, within), 0.0, 3600.0));
}

LinkAnswer ModbusLink::refuse(LinkFault fault, int functionCode, int slave) {
    failure_ = LinkFailure{};
    failure_.fault = fault;
    failure_.functionCode = functionCode;
    failure_.slave = slave;
    // A stopped session's later transactions fail quietly: the stop was told once.
    if (fault != LinkFault::Stopped) {
        report(describe(failure_));
    }
    return LinkAnswer{QByteArray(), failure_};
}

LinkAnswer ModbusLink::refuseBusy(int functionCode, int slave) {
    // The line's owner keeps its state and failure; only the trace hears of it.
    LinkFailure refusal;
    refusal.fault = LinkFault::Busy;
    refusal.functionCode = functionCode;
    refusal.slave = slave;
    report(describe(refusal));
    return LinkAnswer{QByteArray(), refusal};
}

bool ModbusLink::yieldAndLook() {
    pump_.yield();
    if (aborted_) {
        fail(LinkFault::Stopped);
        return false;
    }
    return true;
}

void ModbusLink::noteStoppedAnswer(const TransactionRow& row) {
    if (failure_.fault != LinkFault::Stopped || failure_.sends == 0) {
        return;
    }
    // The answer's length is not known before its header: allow for the longest a request
    // of this size can have.
    const double line = openedBaud_ > 0 ? (2 * expectedLength(row) + 9) * 10.0 / openedBaud_ : 0.0;
    stoppedSentAt_ = lastSendAt_;
    stoppedAnswerWithin_ = row.resendAfter + line;
}

bool ModbusLink::letStoppedAnswerArrive() {
    if (!stoppedAnswerWithin_) {
        return true;
    }
    const double within = *stoppedAnswerWithin_;
    stoppedAnswerWithin_.reset();
    // Done once the line has been quiet a while after bytes came; a meter that never began
    // its answer is given until it would have ended. Counted on a stopwatch, because the
    // end may lie past midnight.
    const double quiet = std::max(0.05, openedBaud_ > 0 ? 40.0 / openedBaud_ : 0.0);
    DayStopwatch sinceSend(stoppedSentAt_);
    double passed = sinceSend.look(now());
    qint64 seen = port_.bytesWaiting();
    double lastArrival = seen > 0 ? passed : -1.0;
    while (port_.isOpen() && passed < within && (lastArrival < 0 || passed - lastArrival < quiet)) {
        if (!yieldAndLook()) {
            return false;
        }
        passed = sinceSend.look(now());
        const qint64 waiting = port_.bytesWaiting();
        if (waiting != seen) {
            seen = waiting;
            lastArrival = passed;
        }
    }
    return true;
}

bool ModbusLink::beginTransaction(int functionCode, int slave) {
    function_ = functionCode;
    slave_ = slave;
    sends_ = 0;
    writeError_.clear();
    answer_.clear();
    request_.clear();
    if (!yieldAndLook()) {
        return false;
    }
    if (!openPort()) {
        return false;
    }
    if (!letStoppedAnswerArrive()) {
        return false;
    }
    port_.discardInput();
    port_.discardOutput();
    return yieldAndLook();
}

void ModbusLink::writeFrame(bool resend) {
    qCDebug(lcLink) << (resend ? "resend" : "send") << request_.toHex(' ');
    if (observer_) {
        observer_->frameSent(now(), request_, resend);
    }
    if (port_.write(request_)) {
        ++sends_;
        lastSendAt_ = now();
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
    brokenTry_.clear();
    qint64 seen = 0; // bytes waiting at the last look, and since when
    double seenSince = now();
    waitedFor_ = expected;
    held_ = 0;
    answerSentAt_ = lastSendAt_;
    awaitAnswerBytes(expected, lastSend + resendAfter - now());
    for (;;) {
        if (!yieldAndLook()) {
            return false;
        }
        const qint64 waiting = port_.bytesWaiting();
        held_ = waiting;
        if (waiting >= expected) {
            return true;
        }
        if (waiting != seen) {
            seen = waiting;
            seenSince = now();
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
            awaitAnswerBytes(expected - waiting, lastSend + resendAfter - t);
            continue;
        }
        if (t < start) {
            start = wholeSecond(t);
        }
        if (t - start >= limit) {
            break;
        }
        endTry(seen, seenSince);
        writeFrame(true);
        lastSend = wholeSecond(now());
        // An earlier copy's answer may still come, sooner than the resend's.
        answerSentAt_ = 0.0;
    }
    // Whatever did come says why: an exception answer, or an answer that broke off; when the
    // last try heard nothing, an earlier try's broken answer says more than silence.
    QByteArray rest = port_.take(std::max<qint64>(0, port_.bytesWaiting()));
    const bool earlierTry = rest.isEmpty() && !brokenTry_.isEmpty();
    if (earlierTry) {
        rest = brokenTry_;
    }
    answer_.assign(rest.constData(), size_t(rest.size()));
    if (!answer_.empty() && !earlierTry) {
        traceAnswer(nullptr);
    }
    failWithAnswer(answer_.empty() ? LinkFault::NoAnswer : LinkFault::AnswerStopped);
    return false;
}

void ModbusLink::endTry(qint64 waiting, double waitingSince) {
    QString outcome = QStringLiteral("no answer");
    if (waiting > 0) {
        // Bytes still coming are an answer to an earlier copy of the request: it counts.
        const double quiet = std::max(0.1, openedBaud_ > 0 ? 40.0 / openedBaud_ : 0.0);
        if (now() - waitingSince < quiet) {
            return;
        }
        // An answer that stopped coming can never complete; kept, it would be read as the
        // head of the resend's answer, two glued pieces failing their CRC.
        brokenTry_ = port_.take(waiting);
        answer_.assign(brokenTry_.constData(), size_t(brokenTry_.size()));
        traceAnswer(nullptr);
        answer_.clear();
        LinkFailure piece;
        piece.slave = slave_;
        piece.functionCode = function_;
        piece.bytesTaken = int(brokenTry_.size());
        piece.exceptionCode = exceptionCodeOf(brokenTry_, slave_, function_);
        piece.fault = piece.exceptionCode >= 0 ? LinkFault::Refused : LinkFault::AnswerStopped;
        outcome = describe(piece);
    }
    qCDebug(lcLink) << "try" << sends_ << outcome;
    if (observer_) {
        observer_->tryEnded(now(), sends_, outcome);
    }
}

QByteArray ModbusLink::answerBytes() const {
    return QByteArray(answer_.data(), qsizetype(answer_.size()));
}

void ModbusLink::traceAnswer(const char* note) {
    if (note) {
        qCDebug(lcLink) << "received" << answerBytes().toHex(' ') << note;
    } else {
        qCDebug(lcLink) << "received" << answerBytes().toHex(' ');
    }
    if (observer_) {
        observer_->frameReceived(now(), answerBytes());
    }
}

bool ModbusLink::takeAnswerByte(int& value) {
    if (!takeBytes(1)) {
        if (aborted_) {
            fail(LinkFault::Stopped);
            return false;
        }
        // A byte that never came is not read as the one before it: the answer is incomplete.
        traceAnswer("(stopped)");
        failWithAnswer(LinkFault::AnswerStopped);
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
        state_.HeaderBytes[size_t(i)] = b;
        if (i == 1) {
            // The answer's CRC starts with its first byte.
            state_.CrcRegister = 0xFFFF;
        }
        CrcUpdate(b);
    }
    return true;
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
        CrcUpdate(b);
    }
    return true;
}

bool ModbusLink::compareResponseCrc() {
    state_.ResponseCrcHi = (state_.CrcRegister & 0xFF00) / 256;
    state_.ResponseCrcLo = state_.CrcRegister & 0xFF;
    int receivedLo = 0;
    int receivedHi = 0;
    if (!takeAnswerByte(receivedLo) || !takeAnswerByte(receivedHi)) {
        return false;
    }
    traceAnswer(nullptr);
    if (state_.ResponseCrcHi != receivedHi || state_.ResponseCrcLo != receivedLo) {
        return fail(LinkFault::CrcMismatch);
    }
    return succeed();
}

bool ModbusLink::failWithAnswer(LinkFault fault) {
    const int code = exceptionCodeOf(answerBytes(), slave_, function_);
    return code >= 0 ? fail(LinkFault::Refused, code) : fail(fault);
}

bool ModbusLink::fail(LinkFault fault, int exceptionCode) {
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
    return false;
}

bool ModbusLink::succeed() {
    failure_ = LinkFailure{};
    failure_.functionCode = function_;
    failure_.slave = slave_;
    failure_.device = openedDevice_;
    failure_.baud = openedBaud_;
    failure_.sends = sends_;
    failure_.bytesTaken = int(answer_.size());
    return true;
}

int ModbusLink::expectedLength(const TransactionRow& row) const {
    switch (row.expected) {
    case ExpectedLength::TwiceCountPlusFive:
        return 2 * state_.QuantityLo + 5;
    case ExpectedLength::Eight:
        return 8;
    case ExpectedLength::Quantity:
        return state_.QuantityHi * 256 + state_.QuantityLo;
    }
    return 0;
}

LinkAnswer ModbusLink::transact(const TransactionRow& row, int slave, int quantity,
                                const QByteArray& request, bool argumentsFit) {
    if (busy_) {
        return refuseBusy(row.functionCode, slave);
    }
    if (aborted_) {
        return refuse(LinkFault::Stopped, row.functionCode, slave);
    }
    if (slave < 1 || slave > 255) {
        return refuse(LinkFault::BadSlave, row.functionCode, slave);
    }
    if (!argumentsFit) {
        return refuse(LinkFault::BadArgument, row.functionCode, slave);
    }
    const bool ok = run(row, slave, quantity, request);
    // The data leave with the answer, so no later caller finds them here.
    QByteArray data = std::exchange(state_.ResponseData, QByteArray());
    if (!ok) {
        noteStoppedAnswer(row);
        data.clear();
    }
    return LinkAnswer{std::move(data), failure_};
}

bool ModbusLink::run(const TransactionRow& row, int slave, int quantity,
                     const QByteArray& request) {
    BusyGuard guard(busy_);
    if (!beginTransaction(row.functionCode, slave)) {
        return false;
    }

    state_.QuantityHi = qint16(quantity / 256);
    state_.QuantityLo = qint16(quantity & 255);
    request_ = withCrc(request);
    writeFrame(false);
    if (!yieldAndLook()) {
        return false;
    }

    if (!awaitResponse(expectedLength(row), row.resendAfter, row.overallLimit)) {
        return false;
    }
    if (!takeHeaderBytes(row.answerHeaderBytes)) {
        return false;
    }
    int dataBytes = 0;
    switch (row.dataCount) {
    case DataCount::None:
        return compareResponseCrc();
    case DataCount::HeaderByteThree:
        dataBytes = state_.HeaderBytes[3];
        break;
    case DataCount::HeaderSixAndByteSeven: {
        int countLo = 0;
        if (!takeAnswerByte(countLo)) {
            return false;
        }
        CrcUpdate(countLo);
        dataBytes = state_.HeaderBytes[6] * 256 + countLo;
        break;
    }
    }
    if (!takeResponseData(dataBytes,
                          row.dataThroughHeaderFour ? &state_.HeaderBytes[4] : nullptr)) {
        return false;
    }
    return compareResponseCrc();
}

LinkAnswer LinkSession::transact(const TransactionRow& row, int slave, int quantity,
                                 const QByteArray& request, bool argumentsFit) {
    if (!owns_) {
        return link_.refuseBusy(row.functionCode, slave);
    }
    return link_.transact(row, slave, quantity, request, argumentsFit);
}

LinkAnswer LinkSession::ReadHoldingRegisters(int slave, int addressHi, int addressLo, int count) {
    return transact(readRegistersRow, slave, count,
                    frameOf({slave, 3, addressHi, addressLo, count / 256, count & 255}),
                    allBytes({addressHi, addressLo, count}));
}

LinkAnswer LinkSession::WriteMultipleRegisters(int slave, int startAddress,
                                               std::initializer_list<quint16> values) {
    const int count = int(values.size());
    const bool fits = count >= 1 && count <= 36 && startAddress >= 0 && startAddress <= 65535;
    QByteArray request;
    if (fits) {
        request = frameOf({slave, 16, startAddress / 256, startAddress & 255, count / 256,
                           count & 255, 2 * count});
        for (const quint16 value : values) {
            request.append(char(value >> 8));
            request.append(char(value & 0xFF));
        }
    }
    return transact(writeRegistersRow, slave, count, request, fits);
}

LinkAnswer LinkSession::ReadLogBlock(int slave, int bank, int addressHi, int addressLo,
                                     int length) {
    const bool fits = allBytes({bank, addressHi, addressLo}) && length >= 0 && length <= 32767;
    return transact(readLogBlockRow, slave, length,
                    frameOf({slave, 96, bank, addressHi, addressLo, length / 256, length & 255}),
                    fits);
}

} // namespace meterlink
