// Unattended collection end to end: meterlink-cli against meterlink-sim on a
// pseudo-terminal, the simulator's log grown or restarted between runs through its
// control file.
#include "logger/append_state.h"
#include "tests/program_runs.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <string>

#include <sys/stat.h>
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
    EXPECT_TRUE(renewed.out.contains("Finished. Data in new file Logdata-2.csv\n"))
        << renewed.out.data();
    EXPECT_TRUE(renewed.err.contains("restarted since the last run: its first record changed"))
        << renewed.err.data();
    ASSERT_EQ(run({"download", "--out", "whole.csv"}).status, 0);
    EXPECT_EQ(contents("Logdata.csv"), before);
    EXPECT_EQ(contents("Logdata-2.csv"), contents("whole.csv"));
    // Later appends go on in the new file.
    put("control", "seed 99\nrecords 950\n");
    ASSERT_EQ(run({"download", "--append"}).status, 0);
    ASSERT_EQ(run({"download", "--out", "whole.csv"}).status, 0);
    EXPECT_EQ(contents("Logdata-2.csv"), contents("whole.csv"));
}

TEST_F(CollectEndToEndTest, AFileOrStateNotAsLeftGoesWholeToANewFileOrFailsOnRequest) {
    Simulator sim(dir(), {"--records", "300", "--control", path("control")});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    ASSERT_EQ(run({"download", "--append"}).status, 0);
    const QByteArray firstState = contents("Logdata.csv.state");
    put("control", "records 400\n");
    ASSERT_EQ(run({"download", "--append"}).status, 0);
    const QByteArray csv = contents("Logdata.csv");
    const QByteArray state = contents("Logdata.csv.state");
    put("control", "records 450\n");
    ASSERT_EQ(run({"download", "--out", "whole.csv"}).status, 0);

    QByteArray edited = csv;
    edited[edited.size() - 5] = '7';
    QByteArray newer = state;
    newer.replace("append state 2", "append state 3");
    QByteArray longer = state;
    longer.replace("log-length 3200", "log-length 3208");
    QString why;
    auto moved = AppendState::parse(state, &why);
    ASSERT_TRUE(moved.has_value()) << why.toStdString();
    moved->seamOffset -= 3;
    const QByteArray missing = "(missing)";
    struct Case {
        const char* what;
        QByteArray csv;
        QByteArray state;
        QStringList options;
        QByteArray reason;
    };
    const Case cases[] = {
        {"edited by hand", edited, state, {}, "Logdata.csv changed since the last run: the same"},
        {"grown", csv + "x", state, {}, QByteArray::number(csv.size()) + " bytes then, "},
        // The run after the first wrote its file and stopped before its state.
        {"interrupted", csv, firstState, {}, "Logdata.csv changed since the last run: "},
        {"state edited", csv, longer, {}, "checksum does not match"},
        {"seam inside a row", csv, moved->toText(), {}, "is not at the start of a line"},
        {"from a newer version", csv, newer, {}, "newer version"},
        {"cut short", csv, state.left(state.size() / 2), {}, "cut short"},
        {"empty state", csv, QByteArray(), {}, "not a meterlink state file"},
        {"other options", csv, state, {"--timestamps", "iso"}, "--timestamps iso was asked"},
        {"other dialect", csv, state, {"--dialect", "semicolon"}, "field separator"},
        {"CSV missing", missing, state, {}, "Logdata.csv is missing"},
        {"no state", csv, missing, {}, "has no state file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto place = [&](const char* name, const QByteArray& bytes) {
            QFile::remove(path(name));
            if (bytes != missing)
                put(name, bytes);
        };
        place("Logdata.csv", c.csv);
        place("Logdata.csv.state", c.state);
        QFile::remove(path("Logdata-2.csv"));
        const CliRun refused =
            run(QStringList{"download", "--append", "--on-mismatch=fail"} + c.options);
        EXPECT_EQ(refused.status, 3);
        EXPECT_TRUE(refused.err.contains(c.reason)) << refused.err.data();
        EXPECT_EQ(contents("Logdata.csv"), c.csv);
        EXPECT_EQ(contents("Logdata.csv.state"), c.state);

        const CliRun renewed = run(QStringList{"download", "--append"} + c.options);
        EXPECT_EQ(renewed.status, 6) << renewed.err.data();
        EXPECT_TRUE(renewed.out.contains("Finished. Data in new file Logdata-2.csv\n"))
            << renewed.out.data();
        EXPECT_TRUE(renewed.err.contains(c.reason)) << renewed.err.data();
        EXPECT_EQ(contents("Logdata.csv"), c.csv);
        if (c.options.isEmpty()) {
            EXPECT_EQ(contents("Logdata-2.csv"), contents("whole.csv"));
        }
        // The state now follows the new file.
        const CliRun next = run(QStringList{"download", "--append"} + c.options);
        EXPECT_EQ(next.status, 0) << next.err.data();
        EXPECT_TRUE(next.out.contains("no new records")) << next.out.data();
    }
}

TEST_F(CollectEndToEndTest, AppendsKeepTheFilesFormWhateverTheEnvironment) {
    Simulator sim(dir(), {"--records", "300", "--control", path("control")});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    QProcessEnvironment shell = QProcessEnvironment::systemEnvironment();
    shell.remove("LC_ALL");
    shell.remove("LC_TIME");
    shell.insert("LANG", "en_US.UTF-8");
    const CliRun first = runCli(dir(), {"download", "--append"}, shell);
    ASSERT_EQ(first.status, 0) << first.err.data();
    QProcessEnvironment otherTime = shell;
    otherTime.insert("LC_TIME", "de_DE.UTF-8");
    const struct {
        const char* what;
        QProcessEnvironment env;
    } nights[] = {
        {"cron: no environment at all", QProcessEnvironment()},
        {"another LC_TIME", otherTime},
        {"another LC_ALL", cliEnvironment("fr_FR.UTF-8")},
    };
    int records = 300;
    for (const auto& night : nights) {
        SCOPED_TRACE(night.what);
        records += 77;
        put("control", "records " + QByteArray::number(records) + "\n");
        const CliRun later = runCli(dir(), {"download", "--append"}, night.env);
        EXPECT_EQ(later.status, 0) << later.err.data();
        ASSERT_EQ(runCli(dir(), {"download", "--out", "whole.csv"}, shell).status, 0);
        EXPECT_EQ(contents("Logdata.csv"), contents("whole.csv"));
    }
    EXPECT_TRUE(contents("Logdata.csv").contains("\r\n5/30/2001 10:00:00 PM,"));

    // The dialect is the file's own too.
    const QStringList semicolons{"download",  "--append", "--dialect",
                                 "semicolon", "--out",    "semi.csv"};
    ASSERT_EQ(runCli(dir(), semicolons, shell).status, 0);
    put("control", "records " + QByteArray::number(records + 77) + "\n");
    EXPECT_EQ(runCli(dir(), semicolons, shell).status, 0);
    ASSERT_EQ(
        runCli(dir(), {"download", "--dialect", "semicolon", "--out", "whole-semi.csv"}, shell)
            .status,
        0);
    EXPECT_EQ(contents("semi.csv"), contents("whole-semi.csv"));
    EXPECT_TRUE(contents("semi.csv").contains(";"));
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
    // The log ends on 31 May: this year's, unless that is still to come.
    const QDate today = QDate::currentDate();
    const int year = QDate(today.year(), 6, 1) <= today ? today.year() : today.year() - 1;
    EXPECT_TRUE(rows.value(1).startsWith(QByteArray::number(year) + "-05-30 22:00:00,"))
        << rows.value(1).data();
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
                  {"--timestamps", "iso", "--dialect", "semicolon"},
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

    // A file not as left gets the whole log anew, and so a whole image beside it.
    put("Logdata-2.csv", contents("Logdata-2.csv") + "edited\r\n");
    put("site-3.mlimg", "not this log's");
    const CliRun notAsLeft = run(append);
    ASSERT_EQ(notAsLeft.status, 6) << notAsLeft.err.data();
    EXPECT_TRUE(notAsLeft.out.contains("\nnewest record ")) << notAsLeft.out.data();
    decodes("site-3.mlimg", "Logdata-3.csv");
}

// A program holding the line (a display being watched) and another asking for it: root and
// an ordinary user both ways when the test runs as root. The lock folder is sticky and owned
// by the other user, as /run/lock is, where root may not create-open another user's file.
TEST_F(CollectEndToEndTest, ARunFindingThePortLockedExits4AtOnceNamingTheHolder) {
    Simulator sim(dir(), {"--records", "60"});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    const bool root = ::geteuid() == 0;
    const QString locks = path("locks");
    ASSERT_TRUE(QDir().mkdir(locks));
    QFile::setPermissions(dir(), QFile::Permissions(0x7755));
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(locks).constData(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(locks).constData(), 01777), 0);
        // The simulated meter's line, open to the other user as a serial group would make it.
        ASSERT_EQ(
            ::chmod(QFile::encodeName(QFileInfo(path("com1")).canonicalFilePath()).constData(),
                    0666),
            0);
    }
    qputenv("METERLINK_LOCK_DIR", QFile::encodeName(locks));
    const auto start = [&](QProcess& cli, bool asOther, const QStringList& arguments) {
        cli.setWorkingDirectory(dir());
        const QStringList other = {"--reuid=65534", "--regid=65534", "--clear-groups",
                                   builtProgram("meterlink-cli")};
        if (asOther && root)
            cli.start("setpriv", other + arguments);
        else
            cli.start(builtProgram("meterlink-cli"), arguments);
    };
    for (const bool holderIsOther : {true, false}) {
        QProcess holder;
        start(holder, holderIsOther, {"display", "--watch", "--device", path("com1")});
        ASSERT_TRUE(holder.waitForReadyRead(kRunLimitMs)) << holder.readAllStandardError().data();
        QProcess asker;
        QElapsedTimer took;
        took.start();
        start(asker, !holderIsOther, {"read", "24", "10", "--device", path("com1")});
        ASSERT_TRUE(asker.waitForFinished(kRunLimitMs));
        EXPECT_LT(took.elapsed(), 3000);
        EXPECT_EQ(asker.exitCode(), 4);
        const QByteArray err = asker.readAllStandardError();
        EXPECT_TRUE(err.contains(QStringLiteral("the port is in use by meterlink-cli, pid %1")
                                     .arg(holder.processId())
                                     .toUtf8()))
            << err.data();
        EXPECT_TRUE(asker.readAllStandardOutput().isEmpty()); // the meter was not asked
        ::kill(pid_t(holder.processId()), SIGTERM);
        ASSERT_TRUE(holder.waitForFinished(kRunLimitMs));
        EXPECT_EQ(holder.exitCode(), 0) << holder.readAllStandardError().data();
    }
    EXPECT_EQ(run({"download", "--device", path("com1")}).status, 0);
    // A device that does not exist leaves no lock file behind.
    const QStringList before = QDir(locks).entryList(QDir::Files);
    EXPECT_EQ(run({"read", "24", "1", "--device", path("nothing")}).status, 2);
    EXPECT_EQ(QDir(locks).entryList(QDir::Files), before);
    qunsetenv("METERLINK_LOCK_DIR");
}

// What a scan finds and says: a meter at an ID of the long tail, an exception answer (some
// meter is there), and a slow meter (0.3 s, as behind a gateway) at 14400 baud found first.
struct ScanCase {
    const char* name;
    QStringList sim;
    QStringList scan;
    QList<QByteArray> found;
    const char* summary; // a pattern
};

class Scan : public CollectEndToEndTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(Scan, ListsWhatAnsweredAndWhatWasTried) {
    const ScanCase& c = GetParam();
    Simulator sim(dir(), c.sim);
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    const CliRun scan = run(QStringList{"scan"} + c.scan);
    EXPECT_EQ(scan.status, 0) << scan.err.toStdString();
    QList<QByteArray> lines = scan.out.split('\n');
    ASSERT_EQ(lines.size(), c.found.size() + 2) << scan.out.data();
    for (qsizetype i = 0; i < c.found.size(); ++i)
        EXPECT_EQ(lines[i], c.found[i]);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^%1$").arg(c.summary))
                    .match(QString::fromUtf8(lines[c.found.size()]))
                    .hasMatch())
        << scan.out.data();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Scan,
    ::testing::Values(
        ScanCase{"At9600AsSlave7",
                 {"--slave", "7", "--baud", "9600", "--records", "321"},
                 {"--slave", "5-8", "--baud", "38400,9600,1200"},
                 {"found: 9600 baud, slave 7, records used 321"},
                 "1 of 12 tries answered \\(38400,9600,1200 baud; slave IDs 5-8\\); the scan took "
                 "[0-9.]+ s"},
        ScanCase{
            "ExceptionAnswer",
            {"--slave", "240", "--fault", "exception:2"},
            {"--slave", "240-255", "--baud", "38400"},
            {"found: 38400 baud, slave 240, answers, exception 2"},
            "1 of 16 tries answered \\(38400 baud; slave IDs 240-255\\); the scan took [0-9.]+ s"},
        ScanCase{"SlowMeterFirst",
                 {"--slave", "7", "--baud", "14400", "--fault", "delay:0.3"},
                 {"--first", "--baud", "14400,9600"},
                 {"found: 14400 baud, slave 7, records used 200"},
                 "1 of 1[0-3] tries answered \\(14400,9600 baud; slave IDs 1-(8|9|10),247\\); the "
                 "scan took [0-9.]+ s \\(stopped at the first found\\)"}),
    [](const ::testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace meterlink
