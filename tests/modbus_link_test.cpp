#include "modbus/crc16.h"
#include "modbus/modbus_link.h"
#include "sim/fake_event_pump.h"
#include "sim/in_memory_port.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <functional>

using namespace meterlink;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QByteArray filled(int count, int first = 0) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        bytes.append(char((first + i) & 0xFF));
    }
    return bytes;
}

// A function-96 answer carrying `data`, as the meter frames it.
QByteArray logAnswer(const QByteArray& data, int slave = 1) {
    QByteArray frame = hex("60188100");
    frame.prepend(char(slave));
    frame.append(char(data.size() / 256));
    frame.append(char(data.size() % 256));
    return withCrc(frame + data);
}

QByteArray registerAnswer(const QByteArray& data, int slave = 1, int function = 3) {
    QByteArray frame;
    frame.append(char(slave));
    frame.append(char(function));
    frame.append(char(data.size()));
    return withCrc(frame + data);
}

struct Recorder : LinkObserver {
    struct Sent {
        QByteArray frame;
        bool resend;
    };
    std::vector<Sent> sent;
    std::vector<QByteArray> received;
    QStringList events;
    void frameSent(double, const QByteArray& frame, bool resend) override {
        sent.push_back({frame, resend});
    }
    void frameReceived(double, const QByteArray& bytes) override { received.push_back(bytes); }
    void linkEvent(double, const QString& what) override { events << what; }
    void tryEnded(double, int tryNumber, const QString& outcome) override {
        tries << QStringLiteral("%1: %2").arg(tryNumber).arg(outcome);
    }
    QStringList tries;
};

class Link : public ::testing::Test {
protected:
    // Every request gets the same replies.
    void answerWith(std::vector<MeterReply> replies) {
        port.setResponder([replies](const QByteArray&, double) { return replies; });
    }

    FakeClock clock{100.4};
    FakeEventPump pump{clock};
    InMemoryPort port{clock};
    // What the link is told to open; asked again until an open succeeds.
    LinkEndpoint endpoint{QStringLiteral("line"), 9600, QString()};
    int endpointAsked = 0;
    ModbusLink link{port, clock, pump, [this] {
                        ++endpointAsked;
                        return endpoint;
                    }};
};

// --- Waits, resends and time-outs -------------------------------------------------------

TEST_F(Link, UnansweredReadIsSentThreeTimesASecondApartAndGivesUpPast103) {
    Recorder recorder;
    link.setObserver(&recorder);

    EXPECT_FALSE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 10));

    ASSERT_EQ(port.written().size(), 3u);
    EXPECT_LT(port.written()[0].timeOfDay, 100.41);
    EXPECT_GT(port.written()[1].timeOfDay, 101.0);
    EXPECT_LT(port.written()[1].timeOfDay, 101.01);
    EXPECT_GT(port.written()[2].timeOfDay, 102.0);
    EXPECT_LT(port.written()[2].timeOfDay, 102.01);
    EXPECT_GT(clock.secondsSinceMidnight(), 103.0);
    EXPECT_LT(clock.secondsSinceMidnight(), 103.01);
    for (const auto& frame : port.written()) {
        EXPECT_EQ(frame.bytes, port.written()[0].bytes);
    }
    EXPECT_EQ(link.lastFailure().fault, LinkFault::NoAnswer);
    EXPECT_EQ(describe(link.lastFailure()),
              QStringLiteral("No answer from slave 1 at 9600 baud after 3 sends"));
    ASSERT_EQ(recorder.sent.size(), 3u);
    EXPECT_FALSE(recorder.sent[0].resend);
    EXPECT_TRUE(recorder.sent[1].resend);
    EXPECT_TRUE(recorder.sent[2].resend);
    EXPECT_EQ(recorder.events.size(), 1);
}

// Each row of the transaction table against a silent meter: how often its request goes
// out, and when the wait gives up (written at 100.4, so the references are 100).
struct SilentCase {
    const char* name;
    const TransactionRow& row;
    std::function<LinkAnswer(LinkSession&)> call;
    size_t sends;
    double givesUpPast;
};

class SilentMeter : public Link, public ::testing::WithParamInterface<SilentCase> {};

TEST_P(SilentMeter, RowTimingDecidesSendsAndTheEnd) {
    const SilentCase& c = GetParam();
    LinkSession session(link);
    EXPECT_FALSE(c.call(session));
    EXPECT_EQ(port.written().size(), c.sends);
    EXPECT_EQ(link.lastFailure().sends, int(c.sends));
    EXPECT_EQ(link.lastFailure().fault, LinkFault::NoAnswer);
    EXPECT_GT(clock.secondsSinceMidnight(), c.givesUpPast);
    EXPECT_LT(clock.secondsSinceMidnight(), c.givesUpPast + 0.01);
    // A resend once more than resendAfter has passed; none once overallLimit has.
    const double lastSend = 100.0 + (c.sends - 1) * c.row.resendAfter;
    EXPECT_EQ(c.givesUpPast, std::max(lastSend + c.row.resendAfter, 100.0 + c.row.overallLimit));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SilentMeter,
    ::testing::Values(
        SilentCase{"Read", readRegistersRow,
                   [](LinkSession& l) { return l.ReadHoldingRegisters(1, 0, 24, 10); }, 3, 103.0},
        SilentCase{"Write", writeRegistersRow,
                   [](LinkSession& l) { return l.WriteMultipleRegisters(1, 209, {0x45FF}); }, 3,
                   103.0},
        SilentCase{"LogBlock", readLogBlockRow,
                   [](LinkSession& l) { return l.ReadLogBlock(1, 24, 129, 0, 100); }, 1, 104.0}),
    [](const ::testing::TestParamInfo<SilentCase>& info) { return std::string(info.param.name); });

TEST_F(Link, WaitAcrossMidnightRestartsItsReferencesAndStillEnds) {
    clock.setTimeOfDay(86399.3);
    EXPECT_FALSE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 10));
    // One send before midnight, then the three of a fresh wait counted from the new day.
    ASSERT_EQ(port.written().size(), 4u);
    EXPECT_GT(port.written()[1].timeOfDay, 1.0);
    EXPECT_LT(port.written()[1].timeOfDay, 1.01);
    EXPECT_GT(clock.secondsSinceMidnight(), 4.0);
    EXPECT_LT(clock.secondsSinceMidnight(), 4.01);

    clock.setTimeOfDay(86398.3);
    EXPECT_FALSE(LinkSession(link).ReadLogBlock(1, 24, 129, 0, 100));
    EXPECT_EQ(port.written().size(), 6u); // function 96: one resend after the restart
    EXPECT_LT(clock.secondsSinceMidnight(), 8.01);
}

// A stop in the last seconds of the day, the meter silent: the next transaction waits for
// the stopped answer only until it would have ended, not until a deadline past 86400.
TEST_F(Link, StopBeforeMidnightDelaysTheNextTransactionOnlyUntilTheStoppedAnswerWouldEnd) {
    clock.setTimeOfDay(86396.5);
    {
        LinkSession session(link);
        pump.setHook([&] {
            if (clock.elapsed() > 0.5)
                link.abort();
        });
        EXPECT_EQ(session.ReadLogBlock(1, 8, 128, 0, 20).failure.fault, LinkFault::Stopped);
    }
    // Ends a wait that would otherwise never end.
    pump.setHook([&] {
        if (clock.elapsed() > 60.0)
            link.abort();
    });
    answerWith({{registerAnswer(hex("0102"))}});
    EXPECT_TRUE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1));
    EXPECT_GT(clock.elapsed(), 4.0);
    EXPECT_LT(clock.elapsed(), 4.2);
}

// The wait is met (20 bytes), then the 28th answer byte never comes: its take gives up
// once more than two seconds of the day have passed, also when midnight falls in between.
TEST_F(Link, ByteThatNeverComesIsGivenUpPastTwoSeconds) {
    answerWith({{hex("016018810000c8") + filled(20)}});
    EXPECT_FALSE(LinkSession(link).ReadLogBlock(1, 8, 128, 0, 10));
    EXPECT_EQ(link.lastFailure().bytesTaken, 27);
    EXPECT_GT(clock.secondsSinceMidnight(), 102.0);
    EXPECT_LT(clock.secondsSinceMidnight(), 102.01);

    clock.setTimeOfDay(86399.6);
    const double start = clock.elapsed();
    EXPECT_FALSE(LinkSession(link).ReadLogBlock(1, 8, 128, 0, 10));
    EXPECT_EQ(link.lastFailure().fault, LinkFault::AnswerStopped);
    EXPECT_LT(clock.elapsed() - start, 2.02 + 1.0);
}

// --- What an answer is judged by ---------------------------------------------------------

TEST_F(Link, AnswerOfAnotherSlaveAndFunctionWithRightCrcIsAccepted) {
    answerWith({{registerAnswer(hex("abcd"), 7, 4)}});
    const LinkAnswer answer = LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1);
    EXPECT_EQ(answer.data, hex("abcd"));
    EXPECT_EQ(answer.failure.fault, LinkFault::None);
}

TEST_F(Link, ExceptionAnswerEndsAsTimeOutAndReadsAsARefusal) {
    Recorder recorder;
    link.setObserver(&recorder);
    answerWith({{withCrc(hex("018302"))}});
    EXPECT_FALSE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 10));
    EXPECT_GT(clock.secondsSinceMidnight(), 103.0);
    EXPECT_EQ(port.written().size(), 3u);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::Refused);
    EXPECT_EQ(link.lastFailure().exceptionCode, 2);
    EXPECT_EQ(describe(link.lastFailure()),
              QStringLiteral("Slave 1 refused the function 3 request: illegal data address "
                             "(exception code 2)"));
    // Each try's answer on its own, never the three glued.
    ASSERT_EQ(recorder.received.size(), 3u);
    for (const QByteArray& received : recorder.received)
        EXPECT_EQ(received, withCrc(hex("018302")));
    EXPECT_EQ(recorder.tries.size(), 2);
}

// A rejected answer's data are no answer, and the data of an earlier one are not either.
TEST_F(Link, BadCrcIsRejectedAndItsAnswerCarriesNoData) {
    answerWith({{registerAnswer(hex("0102"))}});
    ASSERT_TRUE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1));
    QByteArray bad = registerAnswer(hex("1234"));
    bad[bad.size() - 1] = char(bad[bad.size() - 1] ^ 0x01);
    answerWith({{bad}});
    const LinkAnswer answer = LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1);
    EXPECT_EQ(answer.failure.fault, LinkFault::CrcMismatch);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::CrcMismatch);
    EXPECT_TRUE(answer.data.isEmpty());
}

TEST_F(Link, ExtraBytesAfterAnAnswerAreHarmlessAndDiscardedByTheNextCall) {
    answerWith({{registerAnswer(hex("0102")) + hex("deadbeef")}});
    EXPECT_EQ(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1).data, hex("0102"));
    clock.advance(0.1); // the junk has arrived by now

    answerWith({{registerAnswer(hex("0304"))}});
    const LinkAnswer next = LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1);
    EXPECT_TRUE(next);
    EXPECT_EQ(next.data, hex("0304"));
}

TEST_F(Link, AnswersOwnByteCountDecidesWhatIsStored) {
    // Ten registers asked for, four data bytes announced; the junk only fills the wait.
    answerWith({{registerAnswer(hex("0a0b0c0d")) + filled(16)}});
    const LinkAnswer answer = LinkSession(link).ReadHoldingRegisters(1, 0, 24, 10);
    EXPECT_TRUE(answer);
    EXPECT_EQ(answer.data, hex("0a0b0c0d"));
}

TEST_F(Link, ShortButCompleteAnswerStillWaitsForTheRequestedLength) {
    answerWith({{registerAnswer(QByteArray())}});
    EXPECT_FALSE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 10));
    EXPECT_EQ(port.written().size(), 3u);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::AnswerStopped);
}

TEST_F(Link, WriteSendsEachValueHighByteFirstAndItsAnswerCarriesNoData) {
    answerWith({{registerAnswer(hex("0102"))}});
    ASSERT_TRUE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1));
    answerWith({{withCrc(hex("011000d10002"))}});
    const LinkAnswer answer = LinkSession(link).WriteMultipleRegisters(1, 209, {0x31FF, 0x0007});
    EXPECT_TRUE(answer) << describe(answer.failure).toStdString();
    EXPECT_TRUE(answer.data.isEmpty());
    ASSERT_EQ(port.written().size(), 2u);
    EXPECT_EQ(port.written()[1].bytes, withCrc(hex("011000d100020431ff0007")));
}

// --- Function 96 answers -----------------------------------------------------------------

TEST_F(Link, LogAnswerLongerThanItsLengthIsTakenWholeWhileArriving) {
    answerWith({{logAnswer(filled(200))}});
    const LinkAnswer answer = LinkSession(link).ReadLogBlock(1, 24, 129, 0, 100);
    EXPECT_TRUE(answer);
    EXPECT_EQ(answer.data, filled(200));
}

TEST_F(Link, LogLengthLargerThanTheAnswerTimesOut) {
    answerWith({{logAnswer(filled(20))}});
    EXPECT_FALSE(LinkSession(link).ReadLogBlock(1, 24, 129, 0, 100));
    EXPECT_EQ(link.lastFailure().fault, LinkFault::AnswerStopped);
    EXPECT_GT(clock.secondsSinceMidnight(), 104.0);
}

TEST_F(Link, EmptyLogAnswerWithLengthZeroSucceeds) {
    answerWith({{logAnswer(hex("99"))}});
    ASSERT_TRUE(LinkSession(link).ReadLogBlock(1, 8, 128, 0, 1));
    answerWith({{logAnswer(QByteArray()), 0.5}});
    const LinkAnswer answer = LinkSession(link).ReadLogBlock(1, 8, 128, 0, 0);
    EXPECT_TRUE(answer);
    EXPECT_TRUE(answer.data.isEmpty());
}

TEST_F(Link, FullLogBlockAtTwelveHundredBaudIsTakenNotGivenUp) {
    endpoint.baud = 1200;
    answerWith({{logAnswer(filled(1024))}});
    const LinkAnswer answer = LinkSession(link).ReadLogBlock(1, 8, 128, 0, 512);
    EXPECT_TRUE(answer) << describe(answer.failure).toStdString();
    EXPECT_EQ(answer.data, filled(1024));
    EXPECT_EQ(port.written().size(), 1u);
}

TEST_F(Link, UnansweredLogReadAtTwelveHundredBaudWaitsForTheLine) {
    endpoint.baud = 1200;
    EXPECT_FALSE(LinkSession(link).ReadLogBlock(1, 8, 128, 0, 512));
    EXPECT_EQ(port.written().size(), 1u);
    // (9 + 512) x 10 / 1200 s, twice over.
    EXPECT_GT(clock.secondsSinceMidnight(), 100.0 + 8.68);
    EXPECT_LT(clock.secondsSinceMidnight(), 100.0 + 8.7);
}

// --- Answers that stop short --------------------------------------------------------------

struct StopCase {
    const char* name;
    std::function<LinkAnswer(LinkSession&)> call;
    QByteArray sent; // what the meter gets out before it falls silent
    int bytesTaken;
};

class StoppedAnswer : public Link, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StoppedAnswer, EndsWithinItsLimitsSayingHowFarItGot) {
    const StopCase& c = GetParam();
    answerWith({{c.sent}});
    const double start = clock.elapsed();
    LinkSession session(link);
    EXPECT_FALSE(c.call(session));
    EXPECT_EQ(link.lastFailure().fault, LinkFault::AnswerStopped);
    EXPECT_EQ(link.lastFailure().bytesTaken, c.bytesTaken);
    EXPECT_EQ(describe(link.lastFailure()),
              QStringLiteral("The answer from slave 1 broke off after %1 bytes: loose cable, "
                             "wrong speed or noise?")
                  .arg(c.bytesTaken));
    EXPECT_LT(clock.elapsed() - start, 4.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoppedAnswer,
    ::testing::Values(
        // 40 data bytes announced, 30 arrive: the wait for 25 is met, the 31st data byte is not.
        StopCase{"RegisterData",
                 [](LinkSession& l) { return l.ReadHoldingRegisters(1, 0, 24, 10); },
                 hex("010328") + filled(30), 33},
        StopCase{"RegisterCrc", [](LinkSession& l) { return l.ReadHoldingRegisters(1, 0, 24, 0); },
                 hex("0103020102") + hex("aa"), 6},
        StopCase{"LogHeader", [](LinkSession& l) { return l.ReadLogBlock(1, 8, 128, 0, 0); },
                 hex("01601881"), 4},
        StopCase{"LogData", [](LinkSession& l) { return l.ReadLogBlock(1, 8, 128, 0, 50); },
                 hex("016018810000c8") + filled(99), 106},
        // Broken off before the wait was met, at every send: the last try's piece, never
        // the pieces of all tries glued.
        StopCase{"RegisterWait",
                 [](LinkSession& l) { return l.ReadHoldingRegisters(1, 0, 24, 10); },
                 hex("010314") + filled(2), 5},
        StopCase{"WriteWait",
                 [](LinkSession& l) { return l.WriteMultipleRegisters(1, 209, {0x45FF}); },
                 hex("0110"), 2}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

// A try that broke off is dropped before the resend, so the resend's whole answer stands
// alone; an answer to the first copy that comes late but whole still counts.
TEST_F(Link, BrokenTryIsDroppedBeforeTheResendButALateWholeAnswerCounts) {
    Recorder recorder;
    link.setObserver(&recorder);
    const QByteArray whole = registerAnswer(filled(20));
    int requests = 0;
    port.setResponder([&](const QByteArray&, double) {
        return std::vector<MeterReply>{{++requests == 1 ? whole.left(10) : whole}};
    });
    const LinkAnswer answer = LinkSession(link).ReadHoldingRegisters(1, 0, 24, 10);
    EXPECT_TRUE(answer) << describe(answer.failure).toStdString();
    EXPECT_EQ(answer.data, filled(20));
    EXPECT_EQ(recorder.tries, QStringList{"1: The answer from slave 1 broke off after 10 bytes: "
                                          "loose cable, wrong speed or noise?"});

    requests = 0;
    recorder.tries.clear();
    port.setResponder([&](const QByteArray&, double) {
        return ++requests == 1 ? std::vector<MeterReply>{{whole, 1.5}} : std::vector<MeterReply>{};
    });
    EXPECT_TRUE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 10))
        << describe(link.lastFailure()).toStdString();
    EXPECT_EQ(port.written().size(), 4u);
    EXPECT_EQ(recorder.tries, QStringList{"1: no answer"});
}

TEST_F(Link, StoppedExceptionAnswerToShortLogReadNamesItsCode) {
    answerWith({{withCrc(hex("01e004"))}});
    EXPECT_FALSE(LinkSession(link).ReadLogBlock(1, 8, 128, 0, 5));
    EXPECT_EQ(link.lastFailure().fault, LinkFault::Refused);
    EXPECT_EQ(link.lastFailure().exceptionCode, 4);
}

// --- One transaction at a time ---------------------------------------------------------------

// Only the session that owns the line transacts. A session made while another is open
// refuses each transaction as Busy and sends nothing, whether the owner waits for an answer
// (a tick running in its wait) or is between two transactions; the owner's own call made in
// its wait is refused the same way. The owner's answer and failure stay its own.
struct SecondCallCase {
    const char* name;
    std::function<LinkAnswer(LinkSession&)> call;
    int functionCode;
};

class SecondCall : public Link, public ::testing::WithParamInterface<SecondCallCase> {};

TEST_P(SecondCall, IsRefusedAsBusyAndSendsNothing) {
    const SecondCallCase& c = GetParam();
    answerWith({{registerAnswer(hex("0102")), 0.2}});
    LinkSession owner(link);
    ASSERT_TRUE(owner.owns());
    std::vector<LinkAnswer> refused;
    pump.setHook([&] {
        if (clock.secondsSinceMidnight() > 100.45 && refused.empty()) {
            EXPECT_TRUE(link.busy());
            LinkSession tick(link);
            EXPECT_FALSE(tick.owns());
            refused.push_back(c.call(tick));
            refused.push_back(c.call(owner));
        }
    });
    const LinkAnswer outer = owner.ReadHoldingRegisters(1, 0, 24, 1);
    pump.setHook(nullptr);
    LinkSession between(link);
    EXPECT_FALSE(between.owns());
    refused.push_back(c.call(between));

    ASSERT_EQ(refused.size(), 3u);
    for (const LinkAnswer& answer : refused) {
        EXPECT_EQ(answer.failure.fault, LinkFault::Busy);
        EXPECT_EQ(answer.failure.functionCode, c.functionCode);
        EXPECT_EQ(answer.failure.slave, 9);
        EXPECT_TRUE(answer.data.isEmpty());
    }
    EXPECT_EQ(port.written().size(), 1u);
    EXPECT_TRUE(outer);
    EXPECT_EQ(outer.data, hex("0102"));
    EXPECT_EQ(link.lastFailure().fault, LinkFault::None);
    EXPECT_EQ(link.lastFailure().slave, 1);
    EXPECT_TRUE(owner.ReadHoldingRegisters(1, 0, 24, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Functions, SecondCall,
    ::testing::Values(
        SecondCallCase{"Read", [](LinkSession& s) { return s.ReadHoldingRegisters(9, 0, 24, 10); },
                       3},
        SecondCallCase{
            "Write", [](LinkSession& s) { return s.WriteMultipleRegisters(9, 209, {0x45FF}); }, 16},
        SecondCallCase{"LogBlock", [](LinkSession& s) { return s.ReadLogBlock(9, 8, 128, 0, 100); },
                       96}),
    [](const ::testing::TestParamInfo<SecondCallCase>& info) {
        return std::string(info.param.name);
    });

// Where a stop lands: in the wait, while an answer's bytes are taken, or between two
// transactions of a session. The one in flight ends at its next look; every later one of
// the session fails at once without a byte on the line, until the session ends.
struct AbortCase {
    const char* name;
    std::vector<MeterReply> replies;
    std::function<bool(const ModbusLink&, InMemoryPort&, double)> abortWhen; // at every yield
    bool first;   // the first transaction's result
    bool laterOn; // a transaction after the session, the meter unchanged
};

class AbortedSession : public Link, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(AbortedSession, EndsTheWaitAndFailsTheRestUntilTheSessionEnds) {
    const AbortCase& c = GetParam();
    Recorder recorder;
    link.setObserver(&recorder);
    answerWith(c.replies);
    double abortedAt = -1.0;
    pump.setHook([&] {
        if (abortedAt < 0 && c.abortWhen(link, port, clock.secondsSinceMidnight())) {
            abortedAt = clock.secondsSinceMidnight();
            link.abort();
        }
    });
    {
        LinkSession session(link);
        ASSERT_TRUE(session.owns());
        EXPECT_FALSE(LinkSession(link).owns());
        std::vector<bool> results;
        for (int n = 0; n < 3; ++n)
            results.push_back(session.ReadLogBlock(1, 8, 128, 0, 20).ok());
        EXPECT_EQ(results, (std::vector<bool>{c.first, false, false}));
        EXPECT_EQ(link.lastFailure().fault, LinkFault::Stopped);
        EXPECT_TRUE(session.aborted());
    }
    ASSERT_GE(abortedAt, 0.0);
    EXPECT_LT(clock.secondsSinceMidnight() - abortedAt, 0.01);
    EXPECT_EQ(port.written().size(), 1u);
    EXPECT_EQ(recorder.events.size(), 1) << recorder.events.join(" | ").toStdString();
    EXPECT_FALSE(link.aborted());
    pump.setHook(nullptr);
    EXPECT_EQ(LinkSession(link).ReadLogBlock(1, 8, 128, 0, 20).ok(), c.laterOn);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AbortedSession,
    ::testing::Values(
        AbortCase{"DuringTheWait",
                  {},
                  [](const ModbusLink&, InMemoryPort&, double t) { return t > 101.5; },
                  false,
                  false},
        // The answer's header comes, its data stop after 20 of 200 bytes; by 101 they have
        // all been taken and the take of the next waits (it would give up past 102).
        AbortCase{"DuringAByteTake",
                  {{hex("016018810000c8") + filled(20)}},
                  [](const ModbusLink&, InMemoryPort&, double t) { return t > 101.0; },
                  false,
                  false},
        // Stopped as its answer begins to arrive: the next transaction lets the rest come
        // and go before it asks, rather than taking it for its own answer.
        AbortCase{"AsTheAnswerArrives",
                  {{logAnswer(filled(20))}},
                  [](const ModbusLink&, InMemoryPort& p, double) { return p.bytesWaiting() > 0; },
                  false,
                  true},
        // The first transaction completes; the stop falls before the second one sends.
        AbortCase{"BetweenTransactions",
                  {{logAnswer(filled(20))}},
                  [](const ModbusLink& l, InMemoryPort&, double) {
                      return l.lastFailure().fault == LinkFault::None && l.lastFailure().sends == 1;
                  },
                  true,
                  true}),
    [](const ::testing::TestParamInfo<AbortCase>& info) { return std::string(info.param.name); });

// --- Opening the port --------------------------------------------------------------------------

TEST_F(Link, UnopenablePortSendsNothingKeepsTheReasonAndIsRetried) {
    Recorder recorder;
    link.setObserver(&recorder);
    port.setOpenFailure(QStringLiteral("Permission denied"));
    EXPECT_FALSE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 10));
    EXPECT_TRUE(port.written().empty());
    EXPECT_EQ(link.lastFailure().fault, LinkFault::PortNotOpened);
    EXPECT_EQ(describe(link.lastFailure()),
              QStringLiteral("Port line not opened: Permission denied"));
    EXPECT_EQ(recorder.events.size(), 1);

    port.setOpenFailure(QString());
    answerWith({{registerAnswer(hex("0102"))}});
    EXPECT_TRUE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1));
    EXPECT_EQ(port.openCount(), 2);
    EXPECT_EQ(port.written().size(), 1u);
}

TEST_F(Link, EndpointOfTheFirstOpenStaysForTheRunAndReopensAVanishedPort) {
    answerWith({{registerAnswer(hex("0102"))}});
    EXPECT_TRUE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1));
    EXPECT_EQ(port.baud(), 9600);
    endpoint = LinkEndpoint{QStringLiteral("other"), 19200, QString()};
    EXPECT_TRUE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1));
    EXPECT_EQ(port.configureCount(), 1);
    EXPECT_EQ(port.openCount(), 1);

    // The device went away; the next transaction opens the same one again.
    port.unplug();
    EXPECT_TRUE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1));
    EXPECT_EQ(port.openCount(), 2);
    EXPECT_EQ(port.deviceName(), QStringLiteral("line"));
    EXPECT_EQ(port.baud(), 9600);
    EXPECT_EQ(endpointAsked, 1);
}

// An adapter unplugged and plugged in again (here across midnight): the next transaction
// waits for it under the path and speed first opened; one that does not come back within 5 s
// is said so, and later transactions do not wait again.
TEST_F(Link, VanishedDeviceIsWaitedForUnderTheFirstPathAndGivenUpAfterFiveSeconds) {
    clock.setTimeOfDay(86396.5);
    answerWith({{registerAnswer(hex("0102"))}});
    ASSERT_TRUE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1));
    endpoint = LinkEndpoint{QStringLiteral("other"), 19200, QString()};

    port.unplug();
    port.setOpenFailure(QStringLiteral("line: No such file or directory"));
    const double unplugged = clock.elapsed();
    pump.setHook([&] {
        if (clock.elapsed() > unplugged + 2.5)
            port.setOpenFailure(QString());
    });
    EXPECT_TRUE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1));
    EXPECT_GT(clock.elapsed() - unplugged, 2.5);
    EXPECT_LT(clock.elapsed() - unplugged, 2.7);
    EXPECT_EQ(port.deviceName(), QStringLiteral("line"));
    EXPECT_EQ(port.baud(), 9600);

    pump.setHook(nullptr);
    port.unplug();
    port.setOpenFailure(QStringLiteral("line: No such file or directory"));
    const double goneAgain = clock.elapsed();
    EXPECT_FALSE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1));
    EXPECT_EQ(describe(link.lastFailure()),
              QStringLiteral("The serial adapter line disappeared (unplugged?) and did not come "
                             "back within 5 s"));
    EXPECT_GT(clock.elapsed() - goneAgain, 5.0);
    EXPECT_LT(clock.elapsed() - goneAgain, 5.1);
    const double after = clock.elapsed();
    EXPECT_FALSE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1));
    EXPECT_LT(clock.elapsed() - after, 0.01);
    EXPECT_EQ(endpointAsked, 1);
}

TEST_F(Link, UnusableEndpointDoesNotOpenAndSaysWhy) {
    endpoint = LinkEndpoint{QStringLiteral("line"), 0,
                            QStringLiteral("baud rate \"fast\" is not a number")};
    EXPECT_FALSE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 10));
    EXPECT_EQ(port.openCount(), 0);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::PortNotOpened);
    EXPECT_EQ(describe(link.lastFailure()),
              QStringLiteral("Port line not opened: baud rate \"fast\" is not a number"));
}

// --- Arguments that cannot become frame bytes ----------------------------------------------

struct ArgumentCase {
    const char* name;
    std::function<LinkAnswer(LinkSession&)> call;
    LinkFault fault = LinkFault::BadArgument;
};

class OutOfRange : public Link, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(OutOfRange, SendsNothingAndSaysSo) {
    LinkSession session(link);
    EXPECT_EQ(GetParam().call(session).failure.fault, GetParam().fault);
    EXPECT_TRUE(port.written().empty());
    EXPECT_EQ(port.openCount(), 0);
    EXPECT_EQ(link.lastFailure().fault, GetParam().fault);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutOfRange,
    ::testing::Values(
        ArgumentCase{"SlaveAbove255",
                     [](LinkSession& l) { return l.ReadHoldingRegisters(256, 0, 24, 10); },
                     LinkFault::BadSlave},
        ArgumentCase{"NegativeSlave",
                     [](LinkSession& l) { return l.ReadLogBlock(-1, 8, 128, 0, 10); },
                     LinkFault::BadSlave},
        ArgumentCase{"BroadcastSlave",
                     [](LinkSession& l) { return l.WriteMultipleRegisters(0, 209, {0x45FF}); },
                     LinkFault::BadSlave},
        ArgumentCase{"AddressByte",
                     [](LinkSession& l) { return l.ReadHoldingRegisters(1, 0, 300, 10); }},
        ArgumentCase{"RegisterCount",
                     [](LinkSession& l) { return l.ReadHoldingRegisters(1, 0, 24, 256); }},
        ArgumentCase{"WriteCountZero",
                     [](LinkSession& l) { return l.WriteMultipleRegisters(1, 209, {}); }},
        ArgumentCase{"WriteCountAbove36",
                     [](LinkSession& l) {
                         return l.WriteMultipleRegisters(
                             1, 209, {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                      13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
                                      26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36});
                     }},
        ArgumentCase{"WriteStart",
                     [](LinkSession& l) { return l.WriteMultipleRegisters(1, 65536, {0x45FF}); }},
        ArgumentCase{"LogParameter",
                     [](LinkSession& l) { return l.ReadLogBlock(1, 8, 128, -5, 10); }},
        ArgumentCase{"LogLength",
                     [](LinkSession& l) { return l.ReadLogBlock(1, 8, 128, 0, 32768); }},
        ArgumentCase{"NegativeLength",
                     [](LinkSession& l) { return l.ReadLogBlock(1, 8, 128, 0, -1); }}),
    [](const ::testing::TestParamInfo<ArgumentCase>& info) {
        return std::string(info.param.name);
    });

// --- Failure texts ------------------------------------------------------------------------------

TEST(LinkFailureText, SaysWhatWentWrongInPlainWords) {
    LinkFailure f;
    EXPECT_TRUE(describe(f).isEmpty());
    f.slave = 5;
    f.baud = 19200;
    f.sends = 1;
    f.fault = LinkFault::NoAnswer;
    EXPECT_EQ(describe(f), QStringLiteral("No answer from slave 5 at 19200 baud after 1 send"));
    // An adapter pulled out: the request never left the PC.
    f.sends = 0;
    f.functionCode = 3;
    f.osReason = QStringLiteral("device disappeared: /dev/ttyUSB0: Input/output error");
    EXPECT_EQ(describe(f), QStringLiteral("The function 3 request to slave 5 could not be written: "
                                          "device disappeared: /dev/ttyUSB0: Input/output error"));
    f.osReason.clear();
    f.fault = LinkFault::Refused;
    f.functionCode = 16;
    f.exceptionCode = 1;
    EXPECT_EQ(describe(f),
              QStringLiteral("Slave 5 refused the function 16 request: illegal function "
                             "(exception code 1)"));
    f.exceptionCode = 9;
    EXPECT_EQ(describe(f),
              QStringLiteral("Slave 5 refused the function 16 request (exception code 9)"));
    f.fault = LinkFault::AnswerStopped;
    f.exceptionCode = -1;
    f.bytesTaken = 12;
    EXPECT_EQ(describe(f), QStringLiteral("The answer from slave 5 broke off after 12 bytes: "
                                          "loose cable, wrong speed or noise?"));
    f.fault = LinkFault::CrcMismatch;
    EXPECT_EQ(describe(f), QStringLiteral("CRC mismatch in the answer from slave 5"));
    f.fault = LinkFault::Busy;
    f.functionCode = 3;
    EXPECT_TRUE(describe(f).contains(QStringLiteral("another transaction")));
    f.fault = LinkFault::BadSlave;
    EXPECT_TRUE(describe(f).contains(QStringLiteral("slave ID 5")));
    f.slave = 0;
    EXPECT_TRUE(describe(f).contains(QStringLiteral("broadcast")));
}

} // namespace
