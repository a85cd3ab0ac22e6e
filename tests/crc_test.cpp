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

TEST(Crc16, FoldsEveryByteAsEightShiftsWould) {
    for (qint32 start = 0; start <= 0xFFFF; start += 251) {
        for (int value = 0; value < 256; ++value) {
            qint32 reg = start ^ value;
            for (int i = 0; i < 8; ++i) {
                const int bit = reg & 1;
                reg >>= 1;
                if (bit)
                    reg ^= 0xA001;
            }
            ASSERT_EQ(crcUpdate(quint16(start), quint8(value)), reg) << start << " " << value;
        }
    }
}

struct FrameCase {
    const char* name;
    std::function<LinkAnswer(LinkSession&)> call;
    const char* request;
    const char* answerWithoutCrc;
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
    LinkSession session(link);

    const LinkAnswer answer = c.call(session);
    EXPECT_TRUE(answer) << describe(answer.failure).toStdString();
    ASSERT_EQ(port.written().size(), 1u);
    EXPECT_EQ(port.written()[0].bytes.toHex(' '), QByteArray(c.request));
}

INSTANTIATE_TEST_SUITE_P(
    KnownGood, RequestFrames,
    ::testing::Values(
        FrameCase{"DisplayLine",
                  [](LinkSession& l) { return l.ReadHoldingRegisters(1, 0, 24, 10); },
                  "01 03 00 18 00 0a 45 ca",
                  "010314"
                  "2020202020202020202020202020202020202020"},
        FrameCase{"FromRegisterZero",
                  [](LinkSession& l) { return l.ReadHoldingRegisters(1, 0, 0, 10); },
                  "01 03 00 00 00 0a c5 cd", "010314000102030405060708090a0b0c0d0e0f10111213"},
        // Modbus reserves 248 to 255, but meters in the field use them.
        FrameCase{"ReservedSlave",
                  [](LinkSession& l) { return l.ReadHoldingRegisters(255, 0, 24, 1); },
                  "ff 03 00 18 00 01 11 d3", "ff03024142"},
        FrameCase{"KeyPress",
                  [](LinkSession& l) { return l.WriteMultipleRegisters(1, 209, {0x45FF}); },
                  "01 10 00 d1 00 01 02 45 ff c6 c1", "011000d10001"},
        FrameCase{"ChannelConfiguration",
                  [](LinkSession& l) { return l.ReadLogBlock(1, 24, 129, 0, 100); },
                  "01 60 18 81 00 00 64 0b b5",
                  "016018810000"
                  "63"
                  "000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000000000000000000000"}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

} // namespace
