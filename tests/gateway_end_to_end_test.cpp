// meterlink-cli against meterlink-sim behind a simulated network gateway on the loopback:
// the serial line's bytes, waits and files, carried on TCP.
#include "platform/port_lock.h"
#include "tests/program_runs.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace meterlink {
namespace {

class GatewayEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString dir() const { return dir_.path(); }
    QByteArray contents(const QString& name) const {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    CliRun run(const QStringList& arguments) const { return runCli(dir(), arguments); }

    QTemporaryDir dir_;
};

TEST_F(GatewayEndToEndTest, ADownloadAndAnAppendThroughAGatewayWriteTheSerialLinesBytes) {
    const QStringList meters{"--records", "1500", "--seed", "5", "--slave", "3"};
    Simulator serial(dir(), meters);
    Simulator gateway(BehindGateway(), dir(), meters + QStringList{"--control", path("control")});
    ASSERT_TRUE(serial.ready()) << serial.said().toStdString();
    ASSERT_TRUE(gateway.ready()) << gateway.said().toStdString();

    const CliRun overSerial = run({"download", "--slave", "3", "--out", "serial.csv"});
    ASSERT_EQ(overSerial.status, 0) << overSerial.err.toStdString();
    const CliRun overTcp = run({"download", "--device", gateway.device(), "--slave", "3", "--out",
                                "tcp.csv", "--trace", "tcp.log"});
    ASSERT_EQ(overTcp.status, 0) << overTcp.err.toStdString();
    EXPECT_EQ(overTcp.out, overSerial.out);
    EXPECT_EQ(contents("tcp.csv"), contents("serial.csv"));
    EXPECT_TRUE(contents("tcp.log").contains(" TX 03 03 00 4C 00 08 "));

    // An append after the log grew equals a whole download of the grown log.
    const QStringList append{"download", "--device", gateway.device(), "--slave",
                             "3",        "--append", "--out",          "appended.csv"};
    ASSERT_EQ(run(append).status, 0);
    QFile control(path("control"));
    ASSERT_TRUE(control.open(QIODevice::WriteOnly));
    control.write("records 2100\n");
    control.close();
    const CliRun grown = run(append);
    ASSERT_EQ(grown.status, 0) << grown.err.toStdString();
    ASSERT_EQ(run({"download", "--device", gateway.device(), "--slave", "3", "--out", "whole.csv"})
                  .status,
              0);
    EXPECT_EQ(contents("appended.csv"), contents("whole.csv"));
    EXPECT_NE(contents("whole.csv"), contents("tcp.csv"));
}

TEST_F(GatewayEndToEndTest, AConnectionDroppedMidDownloadIsReopenedAndTheDownloadCompletes) {
    // The 12th request is a log block; the gateway is gone for half a second.
    Simulator gateway(BehindGateway(), dir(), {"--records", "1500", "--fault", "drop:12"});
    ASSERT_TRUE(gateway.ready()) << gateway.said().toStdString();
    const CliRun dropped =
        run({"download", "--device", gateway.device(), "--out", "dropped.csv", "--trace", "t.log"});
    ASSERT_EQ(dropped.status, 0) << dropped.err.toStdString();
    EXPECT_TRUE(contents("t.log").contains("the gateway closed or reset the connection"))
        << contents("t.log").toStdString();
    const CliRun clean = run({"download", "--device", gateway.device(), "--out", "clean.csv"});
    ASSERT_EQ(clean.status, 0) << clean.err.toStdString();
    EXPECT_EQ(contents("dropped.csv"), contents("clean.csv"));
}

TEST_F(GatewayEndToEndTest, AGatewayThatNeverAnswersFailsAsASilentLineDoesAndIsLockedAsOne) {
    Simulator serial(dir(), {"--fault", "silent"});
    Simulator gateway(BehindGateway(), dir(), {"--fault", "silent"});
    ASSERT_TRUE(serial.ready() && gateway.ready()) << gateway.said().toStdString();
    const CliRun overSerial = run({"read", "24", "10"});
    const CliRun overTcp = run({"read", "24", "10", "--device", gateway.device()});
    EXPECT_EQ(overTcp.status, 2);
    EXPECT_TRUE(overTcp.err.contains("No answer from slave 1 at 38400 baud after 3 sends"))
        << overTcp.err.data();
    EXPECT_EQ(overTcp.err, overSerial.err);

    // Nothing listening: refused, in plain words, with the host and port.
    const CliRun refused = run({"read", "24", "1", "--device", "tcp://127.0.0.1:1"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(refused.err.contains("tcp://127.0.0.1:1: connection refused"))
        << refused.err.data();

    // One run per gateway line, whatever the case of the host's name.
    const QString port = gateway.device().section(QLatin1Char(':'), -1);
    qputenv("METERLINK_LOCK_DIR", QFile::encodeName(dir()));
    PortLock holder;
    QString why;
    ASSERT_EQ(holder.tryLock(QStringLiteral("tcp://LocalHost:") + port, &why), PortLock::Locked)
        << why.toStdString();
    const CliRun held = run({"read", "24", "1", "--device", "tcp://localhost:" + port});
    EXPECT_EQ(held.status, 4) << held.err.data();
    EXPECT_TRUE(held.err.contains("in use")) << held.err.data();
}

// 20 meters behind 5 gateways, collected by 5 runs at once: every file is the one a serial
// download of the same meter writes.
TEST_F(GatewayEndToEndTest, AFleetOfGatewaysIsCollectedInParallelWithinAMinute) {
    const QStringList meters{"--records", "900", "--slave", "1-4"};
    Simulator serial(dir(), meters);
    ASSERT_TRUE(serial.ready()) << serial.said().toStdString();
    ASSERT_EQ(run({"download", "--slave", "1-4", "--out", "serial-{slave}.csv"}).status, 0);

    std::vector<std::unique_ptr<Simulator>> gateways;
    for (int g = 0; g < 5; ++g) {
        gateways.push_back(std::make_unique<Simulator>(BehindGateway(), dir(), meters));
        ASSERT_TRUE(gateways.back()->ready()) << gateways.back()->said().toStdString();
    }
    QElapsedTimer took;
    took.start();
    QProcess runs[5];
    for (int g = 0; g < 5; ++g)
        startCli(runs[g], dir(),
                 {"download", "--device", gateways[size_t(g)]->device(), "--slave", "1-4", "--out",
                  QStringLiteral("gw%1-{slave}.csv").arg(g)});
    for (QProcess& cli : runs) {
        ASSERT_TRUE(cli.waitForFinished(kRunLimitMs));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    }
    EXPECT_LT(took.elapsed(), 60000);
    for (int g = 0; g < 5; ++g)
        for (int slave = 1; slave <= 4; ++slave)
            EXPECT_EQ(contents(QStringLiteral("gw%1-%2.csv").arg(g).arg(slave)),
                      contents(QStringLiteral("serial-%1.csv").arg(slave)))
                << "gateway " << g << ", slave " << slave;
}

} // namespace
} // namespace meterlink
