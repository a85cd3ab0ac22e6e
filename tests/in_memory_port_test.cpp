#include "sim/fake_event_pump.h"
#include "sim/in_memory_port.h"

#include <gtest/gtest.h>

using namespace meterlink;

namespace {

TEST(FakeClock, WrapsTheTimeOfDayButNotTheElapsedTime) {
    FakeClock clock(86399.5);
    clock.advance(1.0);
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 0.5);
    EXPECT_DOUBLE_EQ(clock.elapsed(), 1.0);
    FakeEventPump pump(clock);
    for (int i = 0; i < 1000; ++i) {
        pump.yield();
    }
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 1.5);
    EXPECT_EQ(pump.yields(), 1000);
}

TEST(InMemoryPort, RepliesArriveByteByByteAtTheLineRate) {
    FakeClock clock(10.0);
    QByteArray seen;
    double seenAt = -1;
    InMemoryPort port(clock, [&](const QByteArray& written, double now) {
        seen = written;
        seenAt = now;
        return std::vector<MeterReply>{{QByteArray("abc"), 0.0}};
    });
    port.configure(QStringLiteral("line"), 1000); // 10 ms a byte
    port.setTurnaround(0.0);
    ASSERT_TRUE(port.open());
    ASSERT_TRUE(port.write(QByteArray("xy")));
    EXPECT_EQ(seen, QByteArray("xy"));
    EXPECT_DOUBLE_EQ(seenAt, 0.02); // the request's own two bytes on the wire first
    ASSERT_EQ(port.written().size(), 1u);
    EXPECT_DOUBLE_EQ(port.written()[0].timeOfDay, 10.0);

    clock.advance(0.029);
    EXPECT_EQ(port.bytesWaiting(), 0);
    clock.advance(0.001);
    EXPECT_EQ(port.bytesWaiting(), 1);
    clock.advance(0.015);
    EXPECT_EQ(port.take(5), QByteArray("ab"));
    clock.advance(0.005);
    EXPECT_EQ(port.take(5), QByteArray("c"));
}

TEST(InMemoryPort, DiscardDropsArrivedBytesButNotThoseStillOnTheWire) {
    FakeClock clock;
    InMemoryPort port(clock);
    port.configure(QStringLiteral("line"), 1000);
    port.open();
    port.inject(QByteArray("1234"));
    clock.advance(0.02);
    port.discardInput();
    EXPECT_EQ(port.bytesWaiting(), 0);
    clock.advance(0.02);
    EXPECT_EQ(port.take(10), QByteArray("34"));
}

TEST(InMemoryPort, RefusesToOpenWithTheGivenReasonUntilCleared) {
    FakeClock clock;
    InMemoryPort port(clock);
    port.setOpenFailure(QStringLiteral("No such file or directory"));
    EXPECT_FALSE(port.open());
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.write(QByteArray("x")));
    EXPECT_EQ(port.errorText(), QStringLiteral("No such file or directory"));
    port.setOpenFailure(QString());
    EXPECT_TRUE(port.open());
    EXPECT_EQ(port.openCount(), 2);
}

} // namespace
