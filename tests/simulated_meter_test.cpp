#include "sim/meter_scenario.h"
#include "sim/sim_crc.h"
#include "sim/simulated_meter.h"

#include <gtest/gtest.h>

namespace meterlink {
namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// Known Modbus CRC values computed apart from the code under test.
TEST(SimCrc, MatchesPublishedCheckValues) {
    EXPECT_EQ(simCrc16("123456789"), 0x4B37);
    EXPECT_EQ(withSimCrc(hex("01030000000a")), hex("01030000000ac5cd"));
    EXPECT_TRUE(hasValidSimCrc(hex("01030018000a45ca")));
    EXPECT_FALSE(hasValidSimCrc(hex("01030018000a45cb")));
}

class MeterTest : public ::testing::Test {
protected:
    MeterTest() {
        MeterLog log;
        log.append(LogRecord::fromRaw(hex("2517093041480000")));
        meter.setLog(log);
        meter.display().setMode(MeterDisplay::Mode::Plain);
    }

    // Sends a whole frame and expects at most one answer.
    QByteArray ask(const char* frameHex, double now = 10.0) {
        const auto replies = meter.receive(hex(frameHex), now);
        EXPECT_LE(replies.size(), 1u);
        return replies.empty() ? QByteArray() : replies.front().bytes;
    }

    SimulatedMeter meter;
};

TEST_F(MeterTest, AnswersEachFunctionWithKnownBytes) {
    struct Case {
        const char* request;
        const char* answer;
    };
    const Case cases[] = {
        // Display line 1 in plain mode.
        {"01030018000a45ca", "01031453494d554c41544544204d4554455220202020201314"},
        // Key "Enter" to register 209: the echo.
        {"011000d100010245ffc6c1", "011000d1000151f0"},
        // One log block of one record at offset 0.
        {"01600880000004cba2", "016008800000082517093041480000eab8"},
        // Unknown function, count 0, beyond the map, bad function-96 bank.
        {"010741e2", "0187018230"},
        {"010300180000c5cd", "0183030131"},
        {"0103012c0001443f", "018302c0f1"},
        {"016019810000643675", "01e002e801"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ask(c.request).toHex(), QByteArray(c.answer)) << c.request;
}

TEST_F(MeterTest, StateBlockGivesEightBytesPerRecord) {
    MeterLog log;
    for (int i = 0; i < 3; ++i)
        log.append(LogRecord::fromRaw(hex("2517093041480000")));
    meter.setLog(log);
    // S = 0, L = 16, used 3, available 32765.
    EXPECT_EQ(ask("0103004c000885db").toHex(),
              QByteArray("01031000000000000000104040000046fffa000bb5"));
}

TEST(MeterStateBlock, PointersGiveTheRecordCountForAnySize) {
    for (int n : {0, 1, 2, 128, 2048, 2049, 5000}) {
        const MeterLog log = MeterLog::generated({n, 7});
        const QByteArray s = log.stateBlock();
        const auto b = [&](int i) { return static_cast<quint8>(s.at(i - 1)); };
        const qint64 start = b(1) * 16384 + b(3) * 256 + b(4);
        const qint64 last = b(5) * 16384 + b(7) * 256 + b(8);
        EXPECT_EQ(last + 8 - start, 8 * n) << n;
        EXPECT_EQ(decodeMeterFloatBits(s.mid(8, 4)), static_cast<float>(n));
    }
}

TEST_F(MeterTest, FullLogBlockCarriesTwiceTheLength) {
    meter.setLog(MeterLog::generated({300, 3}));
    const auto replies = meter.receive(withSimCrc(hex("01600880000200")), 20.0);
    ASSERT_EQ(replies.size(), 1u);
    const QByteArray reply = replies.front().bytes;
    ASSERT_EQ(reply.size(), 7 + 1024 + 2);
    EXPECT_EQ(reply.mid(5, 2), hex("0400"));
    EXPECT_EQ(reply.mid(7, 1024), meter.log().bytes().left(1024));
    EXPECT_TRUE(hasValidSimCrc(reply));
}

TEST_F(MeterTest, LogBlocksAddressBanksAndPadPastTheEnd) {
    meter.setLog(MeterLog::generated({2100, 5})); // 16800 bytes: into bank 9
    const QByteArray all = meter.log().bytes();
    // D = 15360 is bank 8 at 0xBC; D = 16384 is bank 9 at 0x80.
    auto block = [&](const char* request) {
        const auto r = meter.receive(withSimCrc(hex(request)), 30.0);
        return r.empty() ? QByteArray() : r.front().bytes.mid(7, r.front().bytes.size() - 9);
    };
    EXPECT_EQ(block("016008bc000200"), all.mid(15360, 1024));
    const QByteArray tail = block("01600980000200");
    EXPECT_EQ(tail.left(416), all.mid(16384));
    EXPECT_EQ(tail.mid(416), QByteArray(1024 - 416, '\xFF'));
}

TEST_F(MeterTest, ChannelBlocksHoldNamesAt65To96) {
    for (int k = 1; k <= 8; ++k) {
        const auto replies = meter.receive(
            withSimCrc(hex("016018") + QByteArray(1, static_cast<char>(0x80 + k)) + hex("000064")),
            40.0);
        ASSERT_EQ(replies.size(), 1u);
        const QByteArray data = replies.front().bytes.mid(7, 100);
        ASSERT_EQ(data.size(), 100);
        const QByteArray name = data.mid(64, 32);
        QByteArray stripped = name;
        stripped.replace('\xFF', QByteArray());
        EXPECT_EQ(stripped, meter.log().channelNames()[k - 1].toLatin1()) << k;
    }
    EXPECT_EQ(ask("016018810000640bb5").mid(0, 7), hex("01601881000064"));
}

TEST_F(MeterTest, RegistersWrittenElsewhereReadBack) {
    const auto r = meter.receive(withSimCrc(hex("011000640002041234abcd")), 1.0);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r.front().bytes, withSimCrc(hex("011000640002")));
    EXPECT_EQ(meter.holdingRegister(100, 1.0), 0x1234);
    EXPECT_EQ(meter.holdingRegister(101, 1.0), 0xABCD);
    // A byte count that disagrees with the register count is refused.
    const auto bad = meter.receive(withSimCrc(hex("011000640002031234ab")), 2.0);
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad.front().bytes, withSimCrc(hex("019003")));
}

TEST_F(MeterTest, OtherSlavesAndBroadcastsGetNoAnswer) {
    EXPECT_TRUE(ask("02030018000a45f9").isEmpty());
    EXPECT_TRUE(meter.receive(withSimCrc(hex("001000d100010231ff")), 1.0).empty());
    EXPECT_EQ(meter.keysReceived(), QByteArray("1")); // a broadcast write is obeyed
    meter.setSlaveId(2);
    EXPECT_FALSE(ask("02030018000a45f9").isEmpty());
}

// Framing -------------------------------------------------------------------------------

TEST_F(MeterTest, FrameArrivingByteByByteIsAnswered) {
    const QByteArray request = hex("01030018000a45ca");
    for (int i = 0; i < request.size() - 1; ++i)
        EXPECT_TRUE(meter.receive(request.mid(i, 1), 1.0 + i * 0.001).empty());
    const auto replies = meter.receive(request.right(1), 1.008);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies.front().bytes.left(3), hex("010314"));
}

TEST_F(MeterTest, SeveralFramesInOnePieceGetAnswersInOrder) {
    const QByteArray keyOne = withSimCrc(hex("011000d100010231ff"));
    const QByteArray keyTwo = withSimCrc(hex("011000d100010232ff"));
    const QByteArray read = hex("01030018000a45ca");
    const QByteArray stream = keyOne + keyTwo + read;
    // Split awkwardly: 1 + 13 + rest.
    auto replies = meter.receive(stream.left(1), 5.0);
    auto more = meter.receive(stream.mid(1, 13), 5.0);
    auto rest = meter.receive(stream.mid(14), 5.0);
    replies.insert(replies.end(), more.begin(), more.end());
    replies.insert(replies.end(), rest.begin(), rest.end());
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].bytes.at(1), 0x10);
    EXPECT_EQ(replies[2].bytes.at(1), 0x03);
    EXPECT_EQ(meter.keysReceived(), QByteArray("12"));
}

TEST_F(MeterTest, GapDropsAPartialFrameAndTheNextFrameIsAnswered) {
    const QByteArray request = hex("01030018000a45ca");
    EXPECT_TRUE(meter.receive(request.left(5), 1.0).empty());
    // Silence longer than 3.5 characters: the half frame is forgotten.
    const double later = 1.0 + meter.frameGapSeconds() * 2;
    const auto replies = meter.receive(request, later);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies.front().bytes.left(3), hex("010314"));
}

TEST_F(MeterTest, FrameGapFollowsTheBaudWithAFloor) {
    meter.setBaud(1200);
    EXPECT_NEAR(meter.frameGapSeconds(), 35.0 / 1200, 1e-9);
    meter.setBaud(115200);
    EXPECT_DOUBLE_EQ(meter.frameGapSeconds(), 0.002);
}

TEST_F(MeterTest, BadCrcGetsNoAnswerAndDoesNotBlockTheNext) {
    EXPECT_TRUE(ask("01030018000a45cb").isEmpty());
    EXPECT_FALSE(ask("01030018000a45ca").isEmpty());
    // Junk that never forms a frame is thrown away rather than piling up.
    EXPECT_TRUE(meter.receive(QByteArray(400, '\x07'), 2.0).empty());
    EXPECT_FALSE(ask("01030018000a45ca", 3.0).isEmpty());
}

// Faults -------------------------------------------------------------------------------

class MeterFaultTest : public MeterTest {
protected:
    void fault(const char* option) {
        ASSERT_FALSE(faults.add(QString::fromLatin1(option)));
        meter.setFaults(faults);
    }
    MeterFaults faults;
};

TEST_F(MeterFaultTest, SilentNeverAnswersAndIgnoresKeys) {
    fault("silent");
    EXPECT_TRUE(ask("011000d100010245ffc6c1").isEmpty());
    EXPECT_TRUE(meter.keysReceived().isEmpty());
}

TEST_F(MeterFaultTest, IgnoreLeavesEveryKthRequest) {
    fault("ignore:3");
    std::vector<bool> answered;
    for (int i = 0; i < 6; ++i)
        answered.push_back(!ask("01030018000a45ca", i).isEmpty());
    EXPECT_EQ(answered, (std::vector<bool>{true, true, false, true, true, false}));
}

TEST_F(MeterFaultTest, BadCrcSpoilsEveryKthAnswer) {
    fault("badcrc:2");
    EXPECT_TRUE(hasValidSimCrc(ask("01030018000a45ca", 1)));
    const QByteArray spoilt = ask("01030018000a45ca", 2);
    EXPECT_EQ(spoilt.size(), 25);
    EXPECT_FALSE(hasValidSimCrc(spoilt));
    fault("badcrc");
    EXPECT_FALSE(hasValidSimCrc(ask("01030018000a45ca", 3)));
}

TEST_F(MeterFaultTest, ExceptionForAllOrOneFunction) {
    fault("exception:4:16");
    EXPECT_EQ(ask("011000d100010245ffc6c1").toHex(), withSimCrc(hex("019004")).toHex());
    EXPECT_TRUE(meter.keysReceived().isEmpty());
    EXPECT_EQ(ask("01030018000a45ca").size(), 25);
    fault("exception:6");
    EXPECT_EQ(ask("01030018000a45ca").toHex(), withSimCrc(hex("018306")).toHex());
}

TEST_F(MeterFaultTest, TruncateNoiseAndDelayShapeTheAnswer) {
    fault("truncate:4");
    EXPECT_EQ(ask("011000d100010245ffc6c1"), hex("011000d1"));
    faults = MeterFaults();
    fault("noise");
    const QByteArray noisy = ask("011000d100010245ffc6c1");
    ASSERT_EQ(noisy.size(), 9);
    EXPECT_EQ(noisy.mid(1), hex("011000d1000151f0"));
    faults = MeterFaults();
    fault("delay:1.5");
    meter.setBaud(9600);
    const auto replies = meter.receive(hex("01030018000a45ca"), 50.0);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_NEAR(replies.front().delaySeconds, 1.5 + 35.0 / 9600, 1e-9);
}

TEST(MeterFaultOptions, RejectsMalformedKinds) {
    for (const char* bad :
         {"", "loud", "ignore", "ignore:0", "ignore:x", "badcrc:1:2", "exception", "exception:0",
          "exception:300", "exception:2:200", "truncate:-1", "delay:-1", "delay:nan", "noise:1",
          "latency:-5", "latency:1.5", "drop:0"}) {
        MeterFaults f;
        EXPECT_TRUE(f.add(QString::fromLatin1(bad)).has_value()) << bad;
    }
    MeterFaults f;
    EXPECT_FALSE(f.add("truncate:0"));
    EXPECT_EQ(f.truncateAfter, 0);
    EXPECT_FALSE(f.add("latency:50"));
    EXPECT_EQ(f.latencyMs, 50);
}

} // namespace
} // namespace meterlink
