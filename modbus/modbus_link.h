#pragma once

#include "clock.h"
#include "event_pump.h"
#include "link_endpoint.h"
#include "link_failure.h"
#include "link_observer.h"
#include "serial_port.h"
#include "transaction_state.h"
#include "transaction_table.h"

#include <initializer_list>
#include <optional>
#include <string>

namespace meterlink {

// The Modbus RTU master: one transaction at a time over one serial port.
// Results are -1 for success and 0 for failure.
//
// A caller that makes several transactions (a display refresh, a download, a command of
// the command line) holds a session for them; while one is open no other caller gets one.
// abort() ends the session's waiting transaction at its next look and fails every later
// transaction of the session at once, until the session ends. A transaction made outside
// any session is a session of its own.
class ModbusLink {
public:
    ModbusLink(SerialPort& port, Clock& clock, EventPump& pump, EndpointSource endpoint);

    void setObserver(LinkObserver* observer);

    qint16 OpenCommPort();
    qint32 CrcUpdate(qint32 value);
    qint16 ReadResponseBytes(int count);

    qint16 ReadHoldingRegisters(int slave, int addressHi, int addressLo, int count);
    // The values come from WriteHiBytes/WriteLoBytes 1 to count.
    qint16 WriteMultipleRegisters(int slave, int startAddress, int count, int byteCount);
    qint16 ReadLogBlock(int slave, int bank, int addressHi, int addressLo, int length);
    // Function 16 with the register values given here (1 to 36 of them).
    qint16 writeRegisters(int slave, int startAddress, std::initializer_list<quint16> values);

    // False when a session is open already: the caller must not make transactions now.
    bool beginSession();
    void endSession();
    bool inSession() const { return session_ != Session::None; }
    void abort();
    // abort() was called in the session still open.
    bool aborted() const { return aborted_; }
    // True while a transaction waits; a transaction started now is refused.
    bool busy() const { return busy_; }

    TransactionState& state() { return state_; }
    const TransactionState& state() const { return state_; }
    const LinkFailure& lastFailure() const { return failure_; }

private:
    enum class Session { None, Explicit, OneTransaction };

    qint16 transact(const TransactionRow& row, int slave, int quantity, int startAddress,
                    const QByteArray& request, bool argumentsFit);
    qint16 run(const TransactionRow& row, int slave, int quantity, int startAddress,
               const QByteArray& request);
    int expectedLength(const TransactionRow& row) const;
    double now() const;
    bool openPort();
    // Opens `endpoint`; empty, or why it did not open.
    QString tryOpen(const LinkEndpoint& endpoint);
    // The port went away after an open: waits up to rideOutSeconds for the device to come
    // back under the path first opened.
    bool reopen();
    bool failOpen(LinkFault fault, const LinkEndpoint& endpoint, const QString& reason);
    bool yieldAndLook();
    bool beginTransaction(int functionCode, int slave);
    // A stopped transaction's answer may still be arriving; the next one waits for it before
    // it clears the line, or it would take the rest of it as its own answer.
    void noteStoppedAnswer(const TransactionRow& row);
    bool letStoppedAnswerArrive();
    qint16 refuse(LinkFault fault, int functionCode, int slave);
    qint16 refuseBusy(int functionCode, int slave);
    void sendRequest(QByteArray frame);
    void writeFrame(bool resend);
    bool awaitResponse(int expected, double resendAfter, double limit);
    // Before a resend: what became of the try, and its bytes dropped when they broke off.
    void endTry(qint64 waiting, double waitingSince);
    qint16 takeBytes(int count);
    // Seconds `bytes` take on the line.
    double lineSeconds(qint64 bytes) const;
    // Before a yield in an answer's wait for `needed` more bytes than the port held at its
    // last look: lets a port that can hold its input keep it until the rest of the answer
    // can have come, but no longer than `within`. False: the port looks as it always did.
    bool awaitAnswerBytes(qint64 needed, double within);
    bool takeAnswerByte(int& value);
    QByteArray answerBytes() const;
    void traceAnswer(const char* note);
    // Answer bytes 1 to count into HeaderBytes, through the CRC.
    bool takeHeaderBytes(int count);
    // count data bytes into ResponseData through the CRC (each also into eachByte when
    // given); on a missing byte, ResponseData keeps the ones taken.
    bool takeResponseData(int count, qint32* eachByte);
    qint16 compareResponseCrc();
    // The answer so far ends the transaction: refused when it is an exception answer.
    qint16 failWithAnswer(LinkFault fault);
    qint16 fail(LinkFault fault, int exceptionCode = -1);
    qint16 succeed();
    void report(const QString& what);

    SerialPort& port_;
    Clock& clock_;
    EventPump& pump_;
    EndpointSource endpoint_;
    LinkObserver* observer_ = nullptr;
    TransactionState state_;
    LinkFailure failure_;
    Session session_ = Session::None;
    bool aborted_ = false;
    bool busy_ = false;

    // The transaction in progress: its request as written, and the answer's bytes so far.
    int function_ = 0;
    int slave_ = 0;
    QByteArray request_;
    std::string answer_;   // the bytes of the answer being taken, for reasons and the trace
    QByteArray brokenTry_; // the latest try's answer that broke off, dropped before a resend
    // The answer's wait: its expected length, what the port held at the latest look and is
    // not taken yet, and when its request went out (0 once a resend went: an earlier copy's
    // answer may come sooner than the resend's).
    int waitedFor_ = 0;
    qint64 held_ = 0;
    double answerSentAt_ = 0.0;
    int sends_ = 0;
    QString writeError_;
    double lastSendAt_ = 0.0;
    // When a stopped transaction's request went out, and how long after that its answer
    // would have ended at the latest.
    double stoppedSentAt_ = 0.0;
    std::optional<double> stoppedAnswerWithin_;
    // What the port was last opened with (or tried with).
    QString openedDevice_;
    qint32 openedBaud_ = 0;
    // The first endpoint that opened. A port that went away is opened with it again: a
    // change of the settings takes effect at the next start.
    std::optional<LinkEndpoint> firstOpened_;
    // A wait for the device gave up: later opens try once each, until one succeeds.
    bool rideOutSpent_ = false;
};

// A session for as long as it lives, when the link had none open.
class LinkSession {
public:
    explicit LinkSession(ModbusLink& link) : link_(link), owns_(link.beginSession()) {}
    ~LinkSession() {
        if (owns_)
            link_.endSession();
    }
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    bool owns() const { return owns_; }

private:
    ModbusLink& link_;
    bool owns_;
};

} // namespace meterlink
