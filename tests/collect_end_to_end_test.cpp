// Unattended collection end to end: meterlink-cli against meterlink-sim on a
// pseudo-terminal, the simulator's log grown or restarted between runs through its
// control file.
#include "cli/port_lock.h"
#include "tests/program_runs.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace meterlink {
namespace {

class CollectEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString dir() const { return dir_.path(); }
    QByteArray contents(const QString& name) const {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    void put(const QString& name, const QByteArray& bytes) const {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    CliRun run(const QStringList& arguments) const { return runCli(dir(), arguments); }

    QTemporaryDir dir_;
};

// Log-block requests in a trace: function 96 outside the configuration bank.
int logReads(const QList<QByteArray>& trace) {
    int reads = 0;
    for (const QByteArray& line : trace)
        reads += line.contains(" TX 01 60 ") && !line.contains(" TX 01 60 18 ");
    return reads;
}

TEST_F(CollectEndToEndTest, AnAppendAfterTheLogGrewEqualsAWholeDownloadAndReadsOnlyNewBlocks) {
    // 3001 records of four channels: the last moment has one of its four readings.
    Simulator sim(dir(), {"--records", "3001", "--control", path("control")});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    const CliRun first = run({"download", "--append"});
    ASSERT_EQ(first.status, 0) << first.err.toStdString();
    const QByteArray before = contents("Logdata.csv");

    put("control", "records 3500\n");
    const CliRun grown = run({"download", "--append", "--trace", "trace.log"});
    ASSERT_EQ(grown.status, 0) << grown.err.toStdString();
    // The first record, then blocks 23 to 27: the one that held record 3001 and the new.
    EXPECT_EQ(logReads(linesOf(path("trace.log"))), 6);
    const CliRun whole = run({"download", "--out", "whole.csv"});
    ASSERT_EQ(whole.status, 0) << whole.err.toStdString();
    EXPECT_EQ(contents("Logdata.csv"), contents("whole.csv"));
    // The row at the seam was completed in place, not written again below.
    const QByteArray lastOldRow = before.chopped(2).mid(before.chopped(2).lastIndexOf('\n') + 1);
    EXPECT_FALSE(contents("Logdata.csv").startsWith(before));
    EXPECT_TRUE(contents("Logdata.csv").startsWith(before.chopped(lastOldRow.size() + 2)));
    EXPECT_EQ(contents("Logdata.csv").count(lastOldRow.left(lastOldRow.indexOf(',') + 1)), 1);

    const QByteArray state = contents("Logdata.csv.state");
    const CliRun again = run({"download", "--append"});
    EXPECT_EQ(again.status, 0);
    // Nothing new, yet how old the newest record is: a meter that stopped logging shows.
    EXPECT_TRUE(again.out.startsWith("Downloading\nno new records\nnewest record 18 Jun 03:00, "))
        << again.out.data();
    EXPECT_EQ(contents("Logdata.csv"), contents("whole.csv"));
    EXPECT_EQ(contents("Logdata.csv.state"), state);
}

TEST_F(CollectEndToEndTest, ARestartedLogFailsOnRequestOrGoesWholeToANewFile) {
    Simulator sim(dir(), {"--records", "700", "--control", path("control")});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    ASSERT_EQ(run({"download", "--append"}).status, 0);
    const QByteArray before = contents("Logdata.csv");
    const QByteArray state = contents("Logdata.csv.state");

    put("control", "seed 99\nrecords 900\n"); // longer, but another log
    const CliRun refused = run({"download", "--append", "--on-restart=fail"});
    EXPECT_EQ(refused.status, 5);
    EXPECT_TRUE(refused.err.contains("restarted")) << refused.err.data();
    EXPECT_EQ(contents("Logdata.csv"), before);
    EXPECT_EQ(contents("Logdata.csv.state"), state);

    const CliRun renewed = run({"download", "--append"});
    EXPECT_EQ(renewed.status, 0) << renewed.err.toStdString();
    EXPECT_TRUE(renewed.err.contains("restarted")) << renewed.err.data();
    ASSERT_EQ(run({"download", "--out", "whole.csv"}).status, 0);
    EXPECT_EQ(contents("Logdata.csv"), before);
    EXPECT_EQ(contents("Logdata-2.csv"), contents("whole.csv"));
    // Later appends go on in the new file.
    put("control", "seed 99\nrecords 950\n");
    ASSERT_EQ(run({"download", "--append"}).status, 0);
    ASSERT_EQ(run({"download", "--out", "whole.csv"}).status, 0);
    EXPECT_EQ(contents("Logdata-2.csv"), contents("whole.csv"));
}

TEST_F(CollectEndToEndTest, AnAppendOntoAFileOrStateItCannotTrustIsRefusedAndTouchesNothing) {
    Simulator sim(dir(), {"--records", "300", "--control", path("control")});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    ASSERT_EQ(run({"download", "--append"}).status, 0);
    const QByteArray firstCsv = contents("Logdata.csv");
    const QByteArray firstState = contents("Logdata.csv.state");
    put("control", "records 400\n");
    ASSERT_EQ(run({"download", "--append"}).status, 0);
    const QByteArray csv = contents("Logdata.csv");
    const QByteArray state = contents("Logdata.csv.state");

    struct Case {
        const char* what;
        QByteArray csv;
        QByteArray state;
        QStringList options;
    };
    QByteArray edited = csv;
    edited[edited.size() - 5] = '7';
    QByteArray newer = state;
    newer.replace("append state 1", "append state 2");
    const Case cases[] = {
        {"edited by hand", edited, state, {}},
        // The run after the first wrote its file and stopped before its state.
        {"interrupted", csv, firstState, {}},
        {"from a newer version", csv, newer, {}},
        {"cut short", csv, state.left(state.size() / 2), {}},
        {"empty", csv, QByteArray(), {}},
        {"other options", csv, state, {"--timestamps", "iso"}},
    };
    for (const Case& c : cases) {
        put("Logdata.csv", c.csv);
        put("Logdata.csv.state", c.state);
        const CliRun refused = run(QStringList{"download", "--append"} + c.options);
        EXPECT_EQ(refused.status, 3) << c.what;
        EXPECT_TRUE(refused.err.contains("start over")) << c.what << ": " << refused.err.data();
        EXPECT_EQ(contents("Logdata.csv"), c.csv) << c.what;
        EXPECT_EQ(contents("Logdata.csv.state"), c.state) << c.what;
    }
    EXPECT_NE(firstCsv, csv);

    // A file with no state beside it may hold rows of a log since cleared.
    ASSERT_TRUE(QFile::remove(path("Logdata.csv.state")));
    const CliRun unknown = run({"download", "--append"});
    EXPECT_EQ(unknown.status, 3);
    EXPECT_TRUE(unknown.err.contains("no state file")) << unknown.err.data();
    EXPECT_EQ(contents("Logdata.csv"), csv);
    EXPECT_FALSE(QFile::exists(path("Logdata.csv.state")));
}

TEST_F(CollectEndToEndTest, SeveralMetersGoOnPastASilentOneAndTheRunExits2) {
    Simulator sim(dir(), {"--slave", "1,7", "--records", "60"});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    const CliRun several = run(
        {"download", "--slave", "1,2,7", "--out", "m-{slave}.csv", "--timestamps", "iso", "--bom"});
    EXPECT_EQ(several.status, 2);
    const QList<QByteArray> outcomes = several.out.split('\n');
    ASSERT_EQ(outcomes.size(), 4) << several.out.data();
    EXPECT_TRUE(outcomes[0].startsWith("slave 1: Finished. Data in File m-1.csv, newest record "
                                       "31 May 05:00, "))
        << outcomes[0].data();
    EXPECT_EQ(outcomes[1], "slave 2: Error in Downloading!!");
    EXPECT_TRUE(outcomes[2].startsWith("slave 7: Finished. Data in File m-7.csv, newest record"))
        << outcomes[2].data();
    EXPECT_TRUE(several.err.contains("slave 2: Reading the logger state")) << several.err.data();
    EXPECT_FALSE(QFile::exists(path("m-2.csv")));
    const QList<QByteArray> rows = contents("m-7.csv").split('\n');
    EXPECT_TRUE(rows.value(0).startsWith("\xEF\xBB\xBF"
                                         "Date / Time,"))
        << rows.value(0).data();
    EXPECT_TRUE(rows.value(1).startsWith("2001-05-30 22:00:00,")) << rows.value(1).data();
    EXPECT_NE(contents("m-1.csv"), contents("m-7.csv")); // each meter its own log

    const CliRun oneName = run({"download", "--slave", "1,7", "--out", "m.csv"});
    EXPECT_EQ(oneName.status, 64);
    EXPECT_TRUE(oneName.err.contains("{slave}")) << oneName.err.data();
}

// What the meter answered, kept as an image beside each CSV: decoded again, and served again
// by the simulator, it gives the same CSV byte for byte.
struct ImageCase {
    const char* name;
    QStringList simulator;
    QStringList download; // the options that shape the CSV's bytes, also given to decode
    QStringList meters;   // the CSV and image names, without .csv and .img
    QStringList several;  // the download's options for more than one meter
};
void PrintTo(const ImageCase& c, std::ostream* out) {
    *out << c.name;
}

class ImageEndToEnd : public CollectEndToEndTest,
                      public ::testing::WithParamInterface<ImageCase> {};

TEST_P(ImageEndToEnd, DecodesAndServesAgainToTheDownloadsCsv) {
    const ImageCase& c = GetParam();
    put("odd.scn", "channel 2 \"Not Used\"\nchannel 3 \"Level, m\"\n"
                   "record 1 2001-02-28 23:30 1.5\nraw F2 29 00 00 3F 80 00 00\n"
                   "record 3 2001-03-01 00:00 -2\nrecord 0 2001-03-01 00:00 7\n"
                   "raw 15 17 09 30 7F 80 00 00\n");
    {
        Simulator sim(dir(), c.simulator);
        ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
        const QStringList names =
            c.several.isEmpty() ? QStringList{"--out", "log.csv", "--image", "log.img"} : c.several;
        const CliRun download = run(QStringList{"download"} + names + c.download);
        ASSERT_EQ(download.status, 0) << download.err.toStdString();
    }
    for (const QString& meter : c.meters) {
        const CliRun decode = run(
            QStringList{"decode", meter + ".img", "--out", meter + "-decoded.csv"} + c.download);
        ASSERT_EQ(decode.status, 0) << decode.err.toStdString();
        EXPECT_EQ(contents(meter + "-decoded.csv"), contents(meter + ".csv"))
            << meter.toStdString();
    }
    Simulator again(dir(), {"--image", path(c.meters.first() + ".img")});
    ASSERT_TRUE(again.ready()) << again.said().toStdString();
    const CliRun served = run(QStringList{"download", "--out", "again.csv"} + c.download);
    ASSERT_EQ(served.status, 0) << served.err.toStdString();
    EXPECT_EQ(contents("again.csv"), contents(c.meters.first() + ".csv"));
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, ImageEndToEnd,
    ::testing::Values(
        ImageCase{"WholeLog", {"--records", "1234"}, {}, {"log"}, {}},
        ImageCase{"IsoWithAByteOrderMarkOverBadAnswers",
                  {"--records", "700", "--fault", "badcrc:3"},
                  {"--timestamps", "iso", "--bom"},
                  {"log"},
                  {}},
        ImageCase{"RecordsTheDecoderCannotDate", {"--scenario", "odd.scn"}, {}, {"log"}, {}},
        ImageCase{"SeveralMeters",
                  {"--slave", "1,7", "--records", "60"},
                  {"--timestamps", "iso"},
                  {"m-1", "m-7"},
                  {"--slave", "1,7", "--out", "m-{slave}.csv", "--image", "m-{slave}.img"}}),
    [](const ::testing::TestParamInfo<ImageCase>& info) { return std::string(info.param.name); });

TEST_F(CollectEndToEndTest, AnAppendsImageGrowsWithTheLogAndARestartedLogStartsANewOne) {
    Simulator sim(dir(), {"--records", "3001", "--control", path("control")});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    const QStringList append{"download", "--append", "--image", "site.mlimg"};
    const auto decodes = [&](const QString& image, const QString& csv) {
        const CliRun decode = run({"decode", image, "--out", "decoded.csv"});
        EXPECT_EQ(decode.status, 0) << decode.err.data();
        EXPECT_EQ(contents("decoded.csv"), contents(csv)) << image.toStdString();
    };
    ASSERT_EQ(run(append).status, 0);
    put("control", "records 3500\n");
    ASSERT_EQ(run(append).status, 0);
    decodes("site.mlimg", "Logdata.csv");
    const QByteArray grown = contents("site.mlimg");
    ASSERT_EQ(run(append).status, 0); // no new records: the image stands
    EXPECT_EQ(contents("site.mlimg"), grown);

    put("control", "records 3500\nseed 9\n");
    const CliRun restarted = run(append);
    ASSERT_EQ(restarted.status, 0) << restarted.err.data();
    decodes("site-2.mlimg", "Logdata-2.csv");
    EXPECT_EQ(contents("site.mlimg"), grown);
}

TEST_F(CollectEndToEndTest, ARunFindingThePortLockedExits4AtOnce) {
    Simulator sim(dir(), {"--records", "60"});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    const int held = ::open(QFile::encodeName(PortLock::lockFilePath(path("com1"))).constData(),
                            O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const CliRun locked = run({"download", "--device", path("com1")});
    ::close(held);
    EXPECT_EQ(locked.status, 4);
    EXPECT_TRUE(locked.err.contains("in use by another meterlink-cli run")) << locked.err.data();
    EXPECT_TRUE(locked.out.isEmpty()); // the meter was not asked
    EXPECT_EQ(run({"download", "--device", path("com1")}).status, 0);
}

TEST_F(CollectEndToEndTest, ScanFindsAMeterAt9600BaudAsSlave7) {
    Simulator sim(dir(), {"--slave", "7", "--baud", "9600", "--records", "321"});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    const CliRun scan = run({"scan", "--slave", "5-8", "--baud", "38400,9600,1200"});
    EXPECT_EQ(scan.status, 0) << scan.err.toStdString();
    const QList<QByteArray> lines = scan.out.split('\n');
    ASSERT_EQ(lines.size(), 3) << scan.out.data();
    EXPECT_EQ(lines[0], QByteArray("found: 9600 baud, slave 7, records used 321"));
    EXPECT_TRUE(lines[1].startsWith("1 of 12 tries answered; the scan took ")) << lines[1].data();
}

} // namespace
} // namespace meterlink
