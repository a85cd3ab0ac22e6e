#include "modbus/crc16.h"
#include "modbus/modbus_link.h"
#include "settings/serial_port_name.h"
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
};

class Link : public ::testing::Test {
protected:
    Link() { link.setDeviceOverride(QStringLiteral("line")); }

    // Every request gets the same replies.
    void answerWith(std::vector<MeterReply> replies) {
        port.setResponder([replies](const QByteArray&, double) { return replies; });
    }

    FakeClock clock{100.4};
    FakeEventPump pump{clock};
    InMemoryPort port{clock};
    Settings settings{1, QStringLiteral("9600"), 1, QStringLiteral("Logdata.csv")};
    ModbusLink link{port, clock, pump, settings};
};

// --- Waits, resends and time-outs -------------------------------------------------------

TEST_F(Link, UnansweredReadIsSentThreeTimesASecondApartAndGivesUpPast103) {
    Recorder recorder;
    link.setObserver(&recorder);

    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 10), 0);

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

TEST_F(Link, UnansweredWriteFollowsTheSameRule) {
    EXPECT_EQ(link.WriteMultipleRegisters(1, 209, 1, 2), 0);
    EXPECT_EQ(port.written().size(), 3u);
    EXPECT_GT(clock.secondsSinceMidnight(), 103.0);
    EXPECT_LT(clock.secondsSinceMidnight(), 103.01);
}

TEST_F(Link, UnansweredLogReadIsSentOnceAndGivesUpPastFourSeconds) {
    EXPECT_EQ(link.ReadLogBlock(1, 24, 129, 0, 100), 0);
    EXPECT_EQ(port.written().size(), 1u);
    EXPECT_GT(clock.secondsSinceMidnight(), 104.0);
    EXPECT_LT(clock.secondsSinceMidnight(), 104.01);
    EXPECT_EQ(link.lastFailure().sends, 1);
}

TEST_F(Link, WaitAcrossMidnightRestartsItsReferencesAndStillEnds) {
    clock.setTimeOfDay(86399.3);
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 10), 0);
    // One send before midnight, then the three of a fresh wait counted from the new day.
    ASSERT_EQ(port.written().size(), 4u);
    EXPECT_GT(port.written()[1].timeOfDay, 1.0);
    EXPECT_LT(port.written()[1].timeOfDay, 1.01);
    EXPECT_GT(clock.secondsSinceMidnight(), 4.0);
    EXPECT_LT(clock.secondsSinceMidnight(), 4.01);

    clock.setTimeOfDay(86398.3);
    EXPECT_EQ(link.ReadLogBlock(1, 24, 129, 0, 100), 0);
    EXPECT_EQ(port.written().size(), 6u); // function 96: one resend after the restart
    EXPECT_LT(clock.secondsSinceMidnight(), 8.01);
}

TEST_F(Link, TakeWithNothingArrivingGivesUpPastTwoSecondsAndKeepsTheLastBytes) {
    link.state().RxBytes = hex("7e");
    EXPECT_EQ(link.ReadResponseBytes(1), 0);
    EXPECT_GT(clock.secondsSinceMidnight(), 102.0);
    EXPECT_LT(clock.secondsSinceMidnight(), 102.01);
    EXPECT_EQ(link.state().RxBytes, hex("7e"));

    clock.setTimeOfDay(86399.6);
    EXPECT_EQ(link.ReadResponseBytes(1), 0);
    EXPECT_LT(clock.elapsed(), 2.02 + 5.0);

    port.inject(hex("55aa"));
    clock.advance(0.01);
    EXPECT_EQ(link.ReadResponseBytes(2), -1);
    EXPECT_EQ(link.state().RxBytes, hex("55aa"));
}

// --- What an answer is judged by ---------------------------------------------------------

TEST_F(Link, AnswerOfAnotherSlaveAndFunctionWithRightCrcIsAccepted) {
    answerWith({{registerAnswer(hex("abcd"), 7, 4)}});
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 1), -1);
    EXPECT_EQ(link.state().ResponseData, hex("abcd"));
    EXPECT_EQ(link.state().HeaderBytes[1], 7);
    EXPECT_EQ(link.state().HeaderBytes[2], 4);
    EXPECT_EQ(link.state().HeaderBytes[3], 2);
    EXPECT_EQ(link.state().HeaderBytes[4], 0xCD);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::None);
}

TEST_F(Link, ExceptionAnswerEndsAsTimeOutNamingItsCode) {
    Recorder recorder;
    link.setObserver(&recorder);
    answerWith({{withCrc(hex("018302"))}});
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 10), 0);
    EXPECT_GT(clock.secondsSinceMidnight(), 103.0);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::NoAnswer);
    EXPECT_EQ(link.lastFailure().exceptionCode, 2);
    EXPECT_TRUE(describe(link.lastFailure()).contains(QStringLiteral("exception code 2")));
    ASSERT_EQ(recorder.received.size(), 1u);
    EXPECT_EQ(recorder.received[0].left(5), withCrc(hex("018302")));
}

TEST_F(Link, BadCrcIsRejectedAndLeavesTheRejectedData) {
    QByteArray answer = registerAnswer(hex("1234"));
    answer[answer.size() - 1] = char(answer[answer.size() - 1] ^ 0x01);
    answerWith({{answer}});
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 1), 0);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::CrcMismatch);
    EXPECT_EQ(link.state().ResponseData, hex("1234"));
}

TEST_F(Link, FailedWaitKeepsThePreviousResponseData) {
    answerWith({{registerAnswer(hex("0102"))}});
    ASSERT_EQ(link.ReadHoldingRegisters(1, 0, 24, 1), -1);
    answerWith({});
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 1), 0);
    EXPECT_EQ(link.state().ResponseData, hex("0102"));
}

TEST_F(Link, ExtraBytesAfterAnAnswerAreHarmlessAndDiscardedByTheNextCall) {
    answerWith({{registerAnswer(hex("0102")) + hex("deadbeef")}});
    ASSERT_EQ(link.ReadHoldingRegisters(1, 0, 24, 1), -1);
    EXPECT_EQ(link.state().ResponseData, hex("0102"));
    clock.advance(0.1); // the junk has arrived by now

    answerWith({{registerAnswer(hex("0304"))}});
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 1), -1);
    EXPECT_EQ(link.state().ResponseData, hex("0304"));
}

TEST_F(Link, AnswersOwnByteCountDecidesWhatIsStored) {
    // Ten registers asked for, four data bytes announced; the junk only fills the wait.
    answerWith({{registerAnswer(hex("0a0b0c0d")) + filled(16)}});
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 10), -1);
    EXPECT_EQ(link.state().ResponseData, hex("0a0b0c0d"));
}

TEST_F(Link, ShortButCompleteAnswerStillWaitsForTheRequestedLength) {
    answerWith({{registerAnswer(QByteArray())}});
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 10), 0);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::NoAnswer);
}

TEST_F(Link, WriteStoresItsRequestDataAndTheAnswerHeaderOnly) {
    link.state().ResponseData = hex("99");
    link.state().WriteHiBytes[1] = 0x31;
    link.state().WriteLoBytes[1] = 0xFF;
    link.state().WriteHiBytes[2] = 0x00;
    link.state().WriteLoBytes[2] = 0x07;
    answerWith({{withCrc(hex("011000d10002"))}});
    EXPECT_EQ(link.WriteMultipleRegisters(1, 209, 2, 4), -1);
    EXPECT_EQ(link.state().WriteData, hex("31ff0007"));
    EXPECT_EQ(link.state().StartAddress, 209);
    EXPECT_EQ(link.state().FunctionCode, 16);
    EXPECT_EQ(link.state().HeaderBytes[6], 2);
    EXPECT_EQ(link.state().ResponseData, hex("99"));
}

// --- Function 96 answers -----------------------------------------------------------------

TEST_F(Link, LogAnswerLongerThanItsLengthIsTakenWholeWhileArriving) {
    answerWith({{logAnswer(filled(200))}});
    EXPECT_EQ(link.ReadLogBlock(1, 24, 129, 0, 100), -1);
    EXPECT_EQ(link.state().ResponseData, filled(200));
    EXPECT_EQ(link.state().HeaderBytes[6], 0);
    EXPECT_EQ(link.state().QuantityLo, 100);
}

TEST_F(Link, LogLengthLargerThanTheAnswerTimesOut) {
    answerWith({{logAnswer(filled(20))}});
    EXPECT_EQ(link.ReadLogBlock(1, 24, 129, 0, 100), 0);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::NoAnswer);
    EXPECT_GT(clock.secondsSinceMidnight(), 104.0);
}

TEST_F(Link, EmptyLogAnswerWithLengthZeroSucceeds) {
    link.state().ResponseData = hex("99");
    answerWith({{logAnswer(QByteArray()), 0.5}});
    EXPECT_EQ(link.ReadLogBlock(1, 8, 128, 0, 0), -1);
    EXPECT_TRUE(link.state().ResponseData.isEmpty());
}

TEST_F(Link, FullLogBlockAtTwelveHundredBaudIsTakenNotGivenUp) {
    settings.BaudText = QStringLiteral("1200");
    answerWith({{logAnswer(filled(1024))}});
    EXPECT_EQ(link.ReadLogBlock(1, 8, 128, 0, 512), -1)
        << describe(link.lastFailure()).toStdString();
    EXPECT_EQ(link.state().ResponseData, filled(1024));
    EXPECT_EQ(port.written().size(), 1u);
}

TEST_F(Link, UnansweredLogReadAtTwelveHundredBaudWaitsForTheLine) {
    settings.BaudText = QStringLiteral("1200");
    EXPECT_EQ(link.ReadLogBlock(1, 8, 128, 0, 512), 0);
    EXPECT_EQ(port.written().size(), 1u);
    // (9 + 512) x 10 / 1200 s, twice over.
    EXPECT_GT(clock.secondsSinceMidnight(), 100.0 + 8.68);
    EXPECT_LT(clock.secondsSinceMidnight(), 100.0 + 8.7);
}

// --- Answers that stop short --------------------------------------------------------------

struct StopCase {
    const char* name;
    std::function<qint16(ModbusLink&)> call;
    QByteArray sent; // what the meter gets out before it falls silent
    int bytesTaken;
};

class StoppedAnswer : public Link, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StoppedAnswer, EndsTwoSecondsAfterTheFirstMissingByte) {
    const StopCase& c = GetParam();
    answerWith({{c.sent}});
    const double start = clock.elapsed();
    EXPECT_EQ(c.call(link), 0);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::AnswerStopped);
    EXPECT_EQ(link.lastFailure().bytesTaken, c.bytesTaken);
    EXPECT_LT(clock.elapsed() - start, 4.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoppedAnswer,
    ::testing::Values(
        // 40 data bytes announced, 30 arrive: the wait for 25 is met, the 31st data byte is not.
        StopCase{"RegisterData", [](ModbusLink& l) { return l.ReadHoldingRegisters(1, 0, 24, 10); },
                 hex("010328") + filled(30), 33},
        StopCase{"RegisterCrc", [](ModbusLink& l) { return l.ReadHoldingRegisters(1, 0, 24, 0); },
                 hex("0103020102") + hex("aa"), 6},
        StopCase{"LogHeader", [](ModbusLink& l) { return l.ReadLogBlock(1, 8, 128, 0, 0); },
                 hex("01601881"), 4},
        StopCase{"LogData", [](ModbusLink& l) { return l.ReadLogBlock(1, 8, 128, 0, 50); },
                 hex("016018810000c8") + filled(99), 106}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST_F(Link, StoppedExceptionAnswerToShortLogReadNamesItsCode) {
    answerWith({{withCrc(hex("01e004"))}});
    EXPECT_EQ(link.ReadLogBlock(1, 8, 128, 0, 5), 0);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::AnswerStopped);
    EXPECT_EQ(link.lastFailure().exceptionCode, 4);
}

// --- One transaction at a time ---------------------------------------------------------------

TEST_F(Link, NestedTransactionIsRefusedAndTheOuterCompletesUntouched) {
    answerWith({{registerAnswer(hex("0102")), 0.2}});
    std::vector<qint16> nested;
    bool sawBusy = false;
    pump.setHook([&] {
        if (clock.secondsSinceMidnight() > 100.45 && nested.empty()) {
            sawBusy = link.busy();
            nested.push_back(link.ReadHoldingRegisters(9, 0, 24, 10));
            nested.push_back(link.WriteMultipleRegisters(9, 209, 1, 2));
            nested.push_back(link.ReadLogBlock(9, 8, 128, 0, 100));
            nested.push_back(link.ReadResponseBytes(1));
        }
    });
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 1), -1);
    EXPECT_TRUE(sawBusy);
    EXPECT_EQ(nested, (std::vector<qint16>{0, 0, 0, 0}));
    EXPECT_EQ(port.written().size(), 1u);
    EXPECT_EQ(link.state().SlaveAddress, 1);
    EXPECT_EQ(link.state().FunctionCode, 3);
    EXPECT_EQ(link.state().ResponseData, hex("0102"));
    EXPECT_EQ(link.lastFailure().fault, LinkFault::None);
    EXPECT_FALSE(link.busy());
}

// --- Opening the port --------------------------------------------------------------------------

TEST_F(Link, UnopenablePortSendsNothingKeepsTheReasonAndIsRetried) {
    Recorder recorder;
    link.setObserver(&recorder);
    port.setOpenFailure(QStringLiteral("Permission denied"));
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 10), 0);
    EXPECT_TRUE(port.written().empty());
    EXPECT_EQ(link.state().FunctionCode, 0);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::PortNotOpened);
    EXPECT_EQ(describe(link.lastFailure()),
              QStringLiteral("Port line not opened: Permission denied"));
    EXPECT_EQ(recorder.events.size(), 1);

    port.setOpenFailure(QString());
    answerWith({{registerAnswer(hex("0102"))}});
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 1), -1);
    EXPECT_EQ(port.openCount(), 2);
    EXPECT_EQ(port.written().size(), 1u);
}

TEST_F(Link, OpenPortIsNotReconfiguredWhenTheSettingsChange) {
    EXPECT_EQ(link.OpenCommPort(), -1);
    EXPECT_EQ(port.baud(), 9600);
    settings.PortNumber = 2;
    settings.BaudText = QStringLiteral("19200");
    link.setDeviceOverride(QString());
    EXPECT_EQ(link.OpenCommPort(), -1);
    answerWith({{registerAnswer(hex("0102"))}});
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 1), -1);
    EXPECT_EQ(port.configureCount(), 1);
    EXPECT_EQ(port.openCount(), 1);
    EXPECT_EQ(port.deviceName(), QStringLiteral("line"));
    EXPECT_EQ(port.baud(), 9600);
}

TEST_F(Link, PortNumberNamesTheDeviceAndBaudTextItsLeadingNumber) {
    link.setDeviceOverride(QString());
    settings.PortNumber = 3;
    settings.BaudText = QStringLiteral(" 4800 baud");
    EXPECT_EQ(link.OpenCommPort(), -1);
    EXPECT_EQ(port.deviceName(), serialDeviceName(3));
    EXPECT_EQ(port.baud(), 4800);
}

TEST_F(Link, BaudTextWithoutANumberDoesNotOpen) {
    settings.BaudText = QStringLiteral("fast");
    EXPECT_EQ(link.ReadHoldingRegisters(1, 0, 24, 10), 0);
    EXPECT_EQ(port.openCount(), 0);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::PortNotOpened);
    EXPECT_TRUE(describe(link.lastFailure()).contains(QStringLiteral("fast")));
}

// --- Arguments that cannot become frame bytes ----------------------------------------------

struct ArgumentCase {
    const char* name;
    std::function<qint16(ModbusLink&)> call;
};

class OutOfRange : public Link, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(OutOfRange, SendsNothingAndSaysSo) {
    EXPECT_EQ(GetParam().call(link), 0);
    EXPECT_TRUE(port.written().empty());
    EXPECT_EQ(port.openCount(), 0);
    EXPECT_EQ(link.lastFailure().fault, LinkFault::BadArgument);
    EXPECT_EQ(link.state().FunctionCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutOfRange,
    ::testing::Values(
        ArgumentCase{"SlaveAbove255",
                     [](ModbusLink& l) { return l.ReadHoldingRegisters(256, 0, 24, 10); }},
        ArgumentCase{"NegativeSlave",
                     [](ModbusLink& l) { return l.ReadLogBlock(-1, 8, 128, 0, 10); }},
        ArgumentCase{"AddressByte",
                     [](ModbusLink& l) { return l.ReadHoldingRegisters(1, 0, 300, 10); }},
        ArgumentCase{"RegisterCount",
                     [](ModbusLink& l) { return l.ReadHoldingRegisters(1, 0, 24, 256); }},
        ArgumentCase{"WriteCountZero",
                     [](ModbusLink& l) { return l.WriteMultipleRegisters(1, 209, 0, 0); }},
        ArgumentCase{"WriteCountAbove36",
                     [](ModbusLink& l) { return l.WriteMultipleRegisters(1, 209, 37, 74); }},
        ArgumentCase{"WriteByteCount",
                     [](ModbusLink& l) { return l.WriteMultipleRegisters(1, 209, 1, 256); }},
        ArgumentCase{"WriteStart",
                     [](ModbusLink& l) { return l.WriteMultipleRegisters(1, 65536, 1, 2); }},
        ArgumentCase{"WriteValue",
                     [](ModbusLink& l) {
                         l.state().WriteHiBytes[1] = 0x100;
                         return l.WriteMultipleRegisters(1, 209, 1, 2);
                     }},
        ArgumentCase{"LogParameter",
                     [](ModbusLink& l) { return l.ReadLogBlock(1, 8, 128, -5, 10); }},
        ArgumentCase{"LogLength",
                     [](ModbusLink& l) { return l.ReadLogBlock(1, 8, 128, 0, 32768); }},
        ArgumentCase{"NegativeLength",
                     [](ModbusLink& l) { return l.ReadLogBlock(1, 8, 128, 0, -1); }}),
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
    f.exceptionCode = 1;
    EXPECT_EQ(describe(f), QStringLiteral("No answer from slave 5 at 19200 baud after 1 send; "
                                          "slave 5 sent exception code 1 (illegal function)"));
    f.fault = LinkFault::AnswerStopped;
    f.exceptionCode = -1;
    f.bytesTaken = 12;
    EXPECT_EQ(describe(f), QStringLiteral("Answer from slave 5 stopped after 12 bytes"));
    f.fault = LinkFault::CrcMismatch;
    EXPECT_EQ(describe(f), QStringLiteral("CRC mismatch in the answer from slave 5"));
    f.fault = LinkFault::Busy;
    f.functionCode = 3;
    EXPECT_TRUE(describe(f).contains(QStringLiteral("another transaction")));
}

} // namespace
