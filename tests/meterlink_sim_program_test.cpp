#include "sim/pty_link.h"
#include "sim/reply_schedule.h"
#include "sim/sim_options.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace meterlink {
namespace {

TEST(ReplyScheduleTest, WithoutBaudSendsWholeAnswersInOrder) {
    ReplySchedule s(0);
    s.add("abc", 1.0);
    s.add("de", 1.0);
    EXPECT_EQ(s.chunk(), QByteArray("abc"));
    s.sent(2, 1.0); // a short write keeps the rest first
    EXPECT_EQ(s.chunk(), QByteArray("c"));
    s.sent(1, 1.0);
    EXPECT_EQ(s.chunk(), QByteArray("de"));
    s.sent(2, 1.0);
    EXPECT_TRUE(s.empty());
}

TEST(ReplyScheduleTest, AtABaudChunksFollowTheLineRate) {
    ReplySchedule s(1000); // 10 ms a byte: one byte a chunk
    s.add("xyz", 5.0);
    EXPECT_DOUBLE_EQ(s.nextDue(), 5.0);
    s.sent(1, 5.0);
    EXPECT_DOUBLE_EQ(s.nextDue(), 5.01);
    s.sent(1, 5.012); // woke 2 ms late: the line keeps its own pace
    EXPECT_DOUBLE_EQ(s.nextDue(), 5.02);
    s.add("n", 5.0);
    s.sent(1, 9.0); // stalled: the rest follows at line rate, not in a burst
    EXPECT_DOUBLE_EQ(s.nextDue(), 9.0);
    s.sent(1, 9.0);
    EXPECT_TRUE(s.empty());

    ReplySchedule fast(38400);
    fast.add(QByteArray(100, 'a'), 0.0);
    EXPECT_EQ(fast.chunk().size(), 19); // about 5 ms of line
}

TEST(ReplyScheduleTest, WakingAMillisecondLateEveryChunkKeepsTheLineRate) {
    ReplySchedule s(38400);
    s.add(QByteArray(1900, 'a'), 0.0);
    double now = 0.0;
    while (!s.empty()) {
        now = s.nextDue() + 0.001; // a millisecond poll timer always wakes late
        s.sent(static_cast<int>(s.chunk().size()), now);
    }
    // 1900 bytes take 494.8 ms on the wire; only the last wake's lateness shows.
    EXPECT_NEAR(now, 1900 * 10.0 / 38400, 0.0065);

    // Paced: a byte a write, and waking a little late every byte still keeps the rate.
    ReplySchedule paced(38400, true);
    paced.add(QByteArray(1900, 'a'), 0.0);
    int writes = 0;
    while (!paced.empty()) {
        EXPECT_EQ(paced.chunk().size(), 1);
        now = paced.nextDue() + 0.0002;
        paced.sent(1, now);
        ++writes;
    }
    EXPECT_EQ(writes, 1900);
    EXPECT_NEAR(now, 1899 * 10.0 / 38400, 0.0003);
}

TEST(SimOptionsTest, ReadsEveryOption) {
    SimOptions o;
    EXPECT_FALSE(o.parse({"--link",  "/tmp/com1",  "--records", "10",       "--baud",
                          "9600",    "--slave",    "5",         "--seed",   "42",
                          "--fault", "noise",      "--fault",   "ignore:3", "--export-records",
                          "r.txt",   "--scenario", "s",         "--pace",   "byte"}));
    EXPECT_EQ(o.linkPath, QString("/tmp/com1"));
    EXPECT_EQ(o.records, 10);
    EXPECT_EQ(o.baud, 9600);
    EXPECT_TRUE(o.paced);
    EXPECT_EQ(o.slaveId, 5);
    EXPECT_EQ(o.seed, 42u);
    EXPECT_TRUE(o.faults.noise);
    EXPECT_EQ(o.faults.ignoreEvery, 3);
    SimOptions line;
    EXPECT_FALSE(
        line.parse({"--link", "x", "--slave", "1,7", "--control", "c", "--unplug", "5:2.5"}));
    EXPECT_EQ(line.slaveIds, QList<int>({1, 7}));
    EXPECT_EQ(line.controlPath, QString("c"));
    SimOptions gateway;
    EXPECT_FALSE(gateway.parse({"--tcp", "127.0.0.1:0", "--fault", "latency:50"}));
    EXPECT_EQ(gateway.tcpHost, QString("127.0.0.1"));
    EXPECT_EQ(gateway.tcpPort, 0);
    EXPECT_EQ(gateway.faults.latencyMs, 50);
    EXPECT_EQ(line.unplugAt, 5);
    EXPECT_EQ(line.unpluggedFor, 2.5);
}

TEST(SimOptionsTest, RejectsBadCommandLines) {
    const QList<QStringList> bad{{},
                                 {"--records", "5"},
                                 {"--link"},
                                 {"--link", "x", "--baud", "fast"},
                                 {"--link", "x", "--slave", "0"},
                                 {"--link", "x", "--slave", "7-1"},
                                 {"--link", "x", "--records", "-1"},
                                 {"--link", "x", "--fault", "loud"},
                                 {"--link", "x", "--unplug", "0:1"},
                                 {"--link", "x", "--unplug", "3"},
                                 {"--link", "x", "--pace", "byte"},
                                 {"--link", "x", "--baud", "9600", "--pace", "slow"},
                                 {"--tcp", "127.0.0.1:0", "--baud", "9600", "--pace", "byte"},
                                 {"--link", "x", "--colour", "red"},
                                 {"--link", "x", "stray"},
                                 // the simulator never listens beyond the loopback
                                 {"--tcp", "0.0.0.0:5020"},
                                 {"--tcp", "127.0.0.1"},
                                 {"--tcp", "127.0.0.1:70000"},
                                 {"--link", "x", "--tcp", "127.0.0.1:0"},
                                 {"--link", "x", "--fault", "drop:3"}};
    for (const QStringList& args : bad) {
        SimOptions o;
        EXPECT_TRUE(o.parse(args).has_value()) << args.join(' ').toStdString();
    }
    SimOptions help;
    EXPECT_FALSE(help.parse({"--help"}));
    EXPECT_TRUE(help.help);
}

TEST(PtyLinkTest, ReplacesAStaleLinkAndRemovesItsOwn) {
    QTemporaryDir dir;
    const QString path = dir.filePath("com1");
    ASSERT_TRUE(QFile::link("/nonexistent/pts", path));
    {
        PtyLink pty;
        QString error;
        ASSERT_TRUE(pty.open(&error)) << error.toStdString();
        ASSERT_TRUE(pty.linkAt(path, &error)) << error.toStdString();
        EXPECT_EQ(QFileInfo(path).symLinkTarget(), pty.deviceName());
    }
    EXPECT_FALSE(QFileInfo(path).isSymLink());
}

TEST(PtyLinkTest, RefusesToReplaceARegularFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("com1");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    PtyLink pty;
    QString error;
    ASSERT_TRUE(pty.open(&error));
    EXPECT_FALSE(pty.linkAt(path, &error));
    EXPECT_FALSE(error.isEmpty());
    QFile again(path);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), QByteArray("keep me"));
}

} // namespace
} // namespace meterlink
