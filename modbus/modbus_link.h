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

// What one transaction returned: the answer's data, or why there is none.
struct LinkAnswer {
    // The data bytes after the answer's header (function 3: the register bytes; 96: the log
    // block); empty for function 16 and on failure.
    QByteArray data;
    LinkFailure failure; // fault None on success
    bool ok() const { return failure.fault == LinkFault::None; }
    explicit operator bool() const { return ok(); }
};

class LinkSession;

// The Modbus RTU master: one transaction at a time over one serial port.
//
// Transactions are made only through a LinkSession, and only the session that owns the line
// makes them: a caller cannot read another's answer or send inside another's session. A
// session made while another is open does not own the line; it refuses every transaction
// with LinkFault::Busy and sends nothing. Code that runs inside a session's job (a download
// reading its blocks) is handed that session rather than opening one.
//
// abort() ends the open session's waiting transaction at its next look and fails every
// later transaction of the session at once, until the session ends.
class ModbusLink {
public:
    ModbusLink(SerialPort& port, Clock& clock, EventPump& pump, EndpointSource endpoint);

    void setObserver(LinkObserver* observer);

    bool inSession() const { return sessionOpen_; }
    void abort();
    // abort() was called in the session still open.
    bool aborted() const { return aborted_; }
    // True while a transaction waits; a transaction started now is refused.
    bool busy() const { return busy_; }

    // Why the latest transaction of an owning session failed (none after a success).
    const LinkFailure& lastFailure() const { return failure_; }

private:
    friend class LinkSession;

    // False when a session is open already: the caller must not make transactions now.
    bool beginSession();
    void endSession();

    // `request` is the frame before its CRC; `argumentsFit` false when a value cannot
    // become its byte.
    LinkAnswer transact(const TransactionRow& row, int slave, int quantity,
                        const QByteArray& request, bool argumentsFit);
    bool run(const TransactionRow& row, int slave, int quantity, const QByteArray& request);
    qint32 CrcUpdate(qint32 value);
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
    LinkAnswer refuse(LinkFault fault, int functionCode, int slave);
    LinkAnswer refuseBusy(int functionCode, int slave);
    void writeFrame(bool resend);
    bool awaitResponse(int expected, double resendAfter, double limit);
    // Before a resend: what became of the try, and its bytes dropped when they broke off.
    void endTry(qint64 waiting, double waitingSince);
    bool takeBytes(int count);
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
    // given).
    bool takeResponseData(int count, qint32* eachByte);
    bool compareResponseCrc();
    // The answer so far ends the transaction: refused when it is an exception answer.
    bool failWithAnswer(LinkFault fault);
    bool fail(LinkFault fault, int exceptionCode = -1);
    bool succeed();
    void report(const QString& what);

    SerialPort& port_;
    Clock& clock_;
    EventPump& pump_;
    EndpointSource endpoint_;
    LinkObserver* observer_ = nullptr;
    TransactionState state_;
    LinkFailure failure_;
    bool sessionOpen_ = false;
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

// The line for as long as it lives, when the link had no session open; the only way to
// make transactions. Each returns the answer as a value.
class LinkSession {
public:
    explicit LinkSession(ModbusLink& link) : link_(link), owns_(link.beginSession()) {}
    ~LinkSession() {
        if (owns_)
            link_.endSession();
    }
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    // False when another session had the line: every transaction is refused (Busy).
    bool owns() const { return owns_; }
    // abort() was called on the link during this session.
    bool aborted() const { return owns_ && link_.aborted(); }

    // Function 3: `count` registers from addressHi * 256 + addressLo.
    LinkAnswer ReadHoldingRegisters(int slave, int addressHi, int addressLo, int count);
    // Function 96: `length` words of bank `bank` from addressHi * 256 + addressLo.
    LinkAnswer ReadLogBlock(int slave, int bank, int addressHi, int addressLo, int length);
    // Function 16: the values (1 to 36 of them) from register startAddress on.
    LinkAnswer WriteMultipleRegisters(int slave, int startAddress,
                                      std::initializer_list<quint16> values);

private:
    LinkAnswer transact(const TransactionRow& row, int slave, int quantity,
                        const QByteArray& request, bool argumentsFit);

    ModbusLink& link_;
    bool owns_;
};

} // namespace meterlink
