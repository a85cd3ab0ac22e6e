#include "modbus/crc16.h"
#include "modbus/modbus_link.h"
#include "sim/fake_event_pump.h"
#include "sim/in_memory_port.h"

#include <gtest/gtest.h>

#include <functional>

using namespace meterlink;

namespace {

TEST(Crc16, CheckValueOfTheNineDigits) {
    EXPECT_EQ(crc16(QByteArray("123456789")), 0x4B37);
}

TEST(Crc16, GoesOnTheWireLowByteFirst) {
    EXPECT_EQ(withCrc(QByteArray::fromHex("01030000000A")).toHex(' '),
              QByteArray("01 03 00 00 00 0a c5 cd"));
}

TEST(Crc16, LinkRoutineMatchesThePureFunctionAndStaysWithin16Bits) {
    FakeClock clock;
    FakeEventPump pump(clock);
    InMemoryPort port(clock);
    ModbusLink link(port, clock, pump, [] { return LinkEndpoint{}; });
    const QByteArray digits("123456789");
    link.state().CrcRegister = 0xFFFF;
    qint32 last = 0;
    for (char c : digits) {
        last = link.CrcUpdate(quint8(c));
        link.state().CrcRegister = last;
        EXPECT_GE(last, 0);
        EXPECT_LE(last, 0xFFFF);
    }
    EXPECT_EQ(last, 0x4B37);
    EXPECT_EQ(link.state().CrcRegister, 0x4B37);
    // A value beyond a byte cannot push the register past 16 bits.
    EXPECT_LE(link.CrcUpdate(1 << 20), 0xFFFF);
}

TEST(Crc16, LinkRoutineFoldsEveryByteAsEightShiftsWould) {
    FakeClock clock;
    FakeEventPump pump(clock);
    InMemoryPort port(clock);
    ModbusLink link(port, clock, pump, [] { return LinkEndpoint{}; });
    for (qint32 start = 0; start <= 0xFFFF; start += 251) {
        for (int value = 0; value < 256; ++value) {
            qint32 reg = start ^ value;
            int bit = 0;
            for (int i = 0; i < 8; ++i) {
                bit = reg & 1;
                reg >>= 1;
                if (bit)
                    reg ^= 0xA001;
            }
            link.state().CrcRegister = start;
            ASSERT_EQ(link.CrcUpdate(value), reg) << start << " " << value;
            ASSERT_EQ(link.state().CrcBit, bit);
        }
    }
}

struct FrameCase {
    const char* name;
    std::function<qint16(ModbusLink&)> call;
    const char* request;
    const char* answerWithoutCrc;
    int requestCrcLo;
    int requestCrcHi;
};

class RequestFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(RequestFrames, AreWrittenByteExactAndAnsweredWithSuccess) {
    const FrameCase& c = GetParam();
    FakeClock clock(100.0);
    FakeEventPump pump(clock);
    InMemoryPort port(clock, [&](const QByteArray&, double) {
        return std::vector<MeterReply>{{withCrc(QByteArray::fromHex(c.answerWithoutCrc))}};
    });
    ModbusLink link(port, clock, pump, [] {
        return LinkEndpoint{QStringLiteral("line"), 9600, QString()};
    });
    link.state().WriteHiBytes[1] = 0x45;
    link.state().WriteLoBytes[1] = 0xFF;

    EXPECT_EQ(c.call(link), -1) << describe(link.lastFailure()).toStdString();
    ASSERT_EQ(port.written().size(), 1u);
    EXPECT_EQ(port.written()[0].bytes.toHex(' '), QByteArray(c.request));
    EXPECT_EQ(link.state().RequestCrcLo, c.requestCrcLo);
    EXPECT_EQ(link.state().RequestCrcHi, c.requestCrcHi);
}

INSTANTIATE_TEST_SUITE_P(
    KnownGood, RequestFrames,
    ::testing::Values(
        FrameCase{"DisplayLine", [](ModbusLink& l) { return l.ReadHoldingRegisters(1, 0, 24, 10); },
                  "01 03 00 18 00 0a 45 ca",
                  "010314"
                  "2020202020202020202020202020202020202020",
                  0x45, 0xCA},
        FrameCase{"FromRegisterZero",
                  [](ModbusLink& l) { return l.ReadHoldingRegisters(1, 0, 0, 10); },
                  "01 03 00 00 00 0a c5 cd", "010314000102030405060708090a0b0c0d0e0f10111213", 0xC5,
                  0xCD},
        // Modbus reserves 248 to 255, but meters in the field use them.
        FrameCase{"ReservedSlave",
                  [](ModbusLink& l) { return l.ReadHoldingRegisters(255, 0, 24, 1); },
                  "ff 03 00 18 00 01 11 d3", "ff03024142", 0x11, 0xD3},
        FrameCase{"KeyPress", [](ModbusLink& l) { return l.WriteMultipleRegisters(1, 209, 1, 2); },
                  "01 10 00 d1 00 01 02 45 ff c6 c1", "011000d10001", 0xC6, 0xC1},
        FrameCase{"ChannelConfiguration",
                  [](ModbusLink& l) { return l.ReadLogBlock(1, 24, 129, 0, 100); },
                  "01 60 18 81 00 00 64 0b b5",
                  "016018810000"
                  "63"
                  "000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000000000000000000000",
                  0x0B, 0xB5}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

} // namespace
