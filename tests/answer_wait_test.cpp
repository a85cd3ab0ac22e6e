#include "modbus/crc16.h"
#include "modbus/modbus_link.h"
#include "sim/fake_event_pump.h"
#include "sim/in_memory_port.h"

#include <gtest/gtest.h>

#include <memory>

using namespace meterlink;

namespace {

// The line in memory, seen through a port that holds its input as the system's port does:
// while a hold lasts a look reads nothing; after one, or once input came when there was
// no time to hold, the look reads. Counts the reads, and those that found nothing new,
// each of which costs the system's port a call that says "try again".
class HoldingPort : public SerialPort {
public:
    HoldingPort(InMemoryPort& line, FakeClock& clock) : line_(line), clock_(clock) {}

    void configure(const QString& deviceName, qint32 baud) override {
        line_.configure(deviceName, baud);
    }
    bool open() override { return line_.open(); }
    bool isOpen() const override { return line_.isOpen(); }
    QString errorText() const override { return line_.errorText(); }
    qint64 bytesWaiting() override {
        if (awaiting_) {
            const bool due =
                holding_ ? clock_.elapsed() >= holdUntil_ : line_.bytesWaiting() > read_;
            if (!due) {
                return read_;
            }
            awaiting_ = false;
        } else if (read_ > 0) {
            return read_; // from the port's own buffer
        }
        const qint64 now = line_.bytesWaiting();
        ++reads;
        if (now == read_) {
            ++emptyReads;
        }
        read_ = now;
        return read_;
    }
    void discardInput() override {
        awaiting_ = false;
        line_.discardInput();
        read_ = 0;
    }
    void discardOutput() override { line_.discardOutput(); }
    bool write(const QByteArray& frame) override {
        awaiting_ = false;
        return line_.write(frame);
    }
    QByteArray take(qint64 count) override {
        awaiting_ = false;
        QByteArray bytes = line_.take(std::min(count, read_));
        read_ -= bytes.size();
        return bytes;
    }
    bool awaitInput(double holdSeconds) override {
        const double until = clock_.elapsed() + holdSeconds;
        const bool holdingAlready = awaiting_ && holding_ && clock_.elapsed() < holdUntil_;
        holdUntil_ = holdingAlready ? std::min(holdUntil_, until) : until;
        holding_ = holdingAlready || holdSeconds > 0;
        awaiting_ = true;
        return true;
    }

    int reads = 0;
    int emptyReads = 0;

private:
    InMemoryPort& line_;
    FakeClock& clock_;
    qint64 read_ = 0;
    bool awaiting_ = false;
    bool holding_ = false;
    double holdUntil_ = 0.0;
};

// A link on a 38400-baud line to a meter that sends the first `sent` bytes of a 1 KB log
// block's answer, through a port that holds its input or one that does not.
struct World {
    World(bool holding, int sent) {
        QByteArray frame = QByteArray::fromHex("0160188100");
        frame.append(char(1024 / 256));
        frame.append(char(1024 % 256));
        for (int i = 0; i < 1024; ++i) {
            frame.append(char(i * 7));
        }
        answer = withCrc(frame);
        const QByteArray reply = answer.left(sent);
        line.setResponder([reply](const QByteArray&, double) {
            return std::vector<MeterReply>{{reply, 0.0}};
        });
        if (holding) {
            held = std::make_unique<HoldingPort>(line, clock);
        }
        link = std::make_unique<ModbusLink>(
            held ? static_cast<SerialPort&>(*held) : line, clock, pump, [] {
                return LinkEndpoint{QStringLiteral("line"), 38400, QString()};
            });
    }

    FakeClock clock{100.4};
    FakeEventPump pump{clock};
    InMemoryPort line{clock};
    std::unique_ptr<HoldingPort> held;
    std::unique_ptr<ModbusLink> link;
    QByteArray answer;
};

class AnswerWait : public ::testing::TestWithParam<int> {};

// Holding the input changes when the link looks, never what it makes of the answer: the
// result, its reason and the sends are the same, and it ends when it ends without holds
// (to the pump's step), so the byte-to-byte and overall limits keep their meaning.
TEST_P(AnswerWait, HeldInputIsTakenAsSoonAndEndsTheSameWay) {
    World plain(false, GetParam());
    World holding(true, GetParam());

    LinkSession plainSession(*plain.link);
    LinkSession holdingSession(*holding.link);
    const LinkAnswer expected = plainSession.ReadLogBlock(1, 24, 129, 0, 1024);
    const LinkAnswer result = holdingSession.ReadLogBlock(1, 24, 129, 0, 1024);

    EXPECT_EQ(result.ok(), expected.ok());
    EXPECT_EQ(result.data, expected.data);
    EXPECT_EQ(describe(result.failure), describe(expected.failure));
    EXPECT_EQ(holding.line.written().size(), plain.line.written().size());
    EXPECT_NEAR(holding.clock.elapsed(), plain.clock.elapsed(), 0.0015);
    if (GetParam() == plain.answer.size()) {
        EXPECT_TRUE(result.ok());
        // A few reads, each finding bytes: the link slept until they could have come,
        // instead of reading at each byte.
        EXPECT_LT(holding.held->reads, 20);
        EXPECT_EQ(holding.held->emptyReads, 0);
        EXPECT_LT(holding.pump.yields(), plain.pump.yields() + 5);
    }
}

INSTANTIATE_TEST_SUITE_P(WholeBrokenOrSilent, AnswerWait, ::testing::Values(1033, 500, 0));

} // namespace
