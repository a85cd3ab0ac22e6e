// Unattended collection end to end: meterlink-cli against meterlink-sim on a
// pseudo-terminal, the simulator's log grown or restarted between runs through its
// control file.
#include "cli/port_lock.h"
#include "logger/append_state.h"
#include "tests/program_runs.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    EXPECT_EQ(again.out, QByteArray("Downloading\nno new records\n"));
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
}

TEST_F(CollectEndToEndTest, SeveralMetersGoOnPastASilentOneAndTheRunExits2) {
    Simulator sim(dir(), {"--slave", "1,7", "--records", "60"});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    const CliRun several = run(
        {"download", "--slave", "1,2,7", "--out", "m-{slave}.csv", "--timestamps", "iso", "--bom"});
    EXPECT_EQ(several.status, 2);
    EXPECT_EQ(several.out, QByteArray("slave 1: Finished. Data in File m-1.csv\n"
                                      "slave 2: Error in Downloading!!\n"
                                      "slave 7: Finished. Data in File m-7.csv\n"));
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
