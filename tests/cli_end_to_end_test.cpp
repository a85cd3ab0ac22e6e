// meterlink-cli against meterlink-sim on a pseudo-terminal: the real programs, the real
// serial port, no sleeping (the simulator's ready line and the programs' own output say
// when to go on).
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "tests/program_runs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace meterlink {
namespace {

struct ExportedRecord {
    int channel;
    QDateTime moment;
    double value;
};

std::vector<ExportedRecord> exportedRecords(const QString& path) {
    std::vector<ExportedRecord> records;
    for (const QByteArray& line : linesOf(path)) {
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() != 3)
            continue;
        records.push_back({fields[0].toInt(),
                           QDateTime::fromString(QString(fields[1]), "yyyy-MM-dd HH:mm"),
                           fields[2].toDouble()});
    }
    return records;
}

// A timestamp as the German locale writes it: "30.05.2001 22:30:00" (or with a two-digit
// year), midnight as the date alone.
QDateTime parsedTimestamp(const QString& text) {
    const QStringList parts = text.split(' ');
    QDate date = QDate::fromString(parts.value(0), "dd.MM.yyyy");
    if (!date.isValid())
        date = QDate::fromString(parts.value(0), "dd.MM.yy");
    const QTime time = parts.size() > 1 ? QTime::fromString(parts[1], "HH:mm:ss") : QTime(0, 0);
    return QDateTime(date, time);
}

class CliEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString dir() const { return dir_.path(); }

    QTemporaryDir dir_;
};

TEST_F(CliEndToEndTest, DownloadedCsvMatchesTheMetersLogRowByRow) {
    Simulator sim(dir(), {"--records", "1234", "--export-records", path("served.txt")});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    const CliRun run = runCli(dir(), {"download", "--trace", "trace.log"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString(); // not a terminal: no bar

    const std::vector<ExportedRecord> served = exportedRecords(path("served.txt"));
    ASSERT_EQ(served.size(), 1234u);
    // The log is of 2001: its newest record is days old, however many.
    const QString newest = QLocale::c().toString(served.back().moment, "d MMM HH:mm");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Downloading\nCompleted Download.\nFinished. "
                                                  "Data in File\nnewest record %1, \\d+ days "
                                                  "ago\n$")
                                       .arg(newest))
                    .match(QString::fromUtf8(run.out))
                    .hasMatch())
        << run.out.toStdString();
    QList<QByteArray> rows = linesOf(path("Logdata.csv"));
    ASSERT_FALSE(rows.isEmpty());
    ASSERT_TRUE(rows.last().isEmpty()); // the file ends with its line end
    rows.removeLast();
    EXPECT_EQ(rows[0], QByteArray("Date / Time,Flow Rate,Totaliser,Pressure,Temperature\r"));

    // Records of one moment share a row; a 128-record block always starts a new one.
    int row = 0;
    QDateTime rowMoment;
    QList<QByteArray> cells;
    for (size_t n = 0; n < served.size(); ++n) {
        const ExportedRecord& record = served[n];
        if (n % 128 == 0 || record.moment != rowMoment) {
            ++row;
            ASSERT_LT(row, rows.size()) << "record " << n;
            ASSERT_TRUE(rows[row].endsWith('\r'));
            cells = rows[row].chopped(1).split(',');
            ASSERT_EQ(cells.size(), 5) << rows[row].toStdString();
            rowMoment = record.moment;
            const QDateTime shown = parsedTimestamp(QString::fromLatin1(cells[0]));
            EXPECT_EQ(shown.date().month(), record.moment.date().month()) << cells[0].data();
            EXPECT_EQ(shown.date().day(), record.moment.date().day()) << cells[0].data();
            EXPECT_EQ(shown.date().year() % 100, 1) << cells[0].data();
            EXPECT_EQ(shown.time(), record.moment.time()) << cells[0].data();
        }
        ASSERT_TRUE(record.channel >= 1 && record.channel <= 4);
        const QByteArray cell = cells[record.channel];
        ASSERT_TRUE(cell.startsWith(' ') || cell.startsWith('-')) << cell.data();
        const double shown = cell.trimmed().toDouble();
        EXPECT_NEAR(shown, record.value, 1e-6 * std::max(1.0, std::fabs(record.value)))
            << "record " << n << " in row " << row;
    }
    EXPECT_EQ(row, rows.size() - 1);

    const QList<QByteArray> trace = linesOf(path("trace.log"));
    ASSERT_GT(trace.size(), 10);
    EXPECT_TRUE(trace[0].contains(" TX 01 03 00 4C 00 08 ")) << trace[0].data();
    EXPECT_TRUE(trace[1].contains(" RX 01 03 10 ")) << trace[1].data();
}

TEST_F(CliEndToEndTest, AnEmptyLogExits1AndWritesNoFile) {
    Simulator sim(dir(), {"--records", "0"});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    const CliRun run = runCli(dir(), {"download"});
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_EQ(run.out, QByteArray("Downloading\n0 Records Available\n"));
    EXPECT_FALSE(QFile::exists(path("Logdata.csv")));
}

TEST_F(CliEndToEndTest, ASilentMeterExits2WithTheReasonAndNoFile) {
    Simulator sim(dir(), {"--records", "50", "--fault", "silent"});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    const CliRun run = runCli(dir(), {"download", "--out", "silent.csv"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, QByteArray("Downloading\nError in Downloading!!\n"));
    EXPECT_TRUE(run.err.contains("No answer from slave 1 at 38400 baud")) << run.err.data();
    EXPECT_FALSE(QFile::exists(path("silent.csv")));
}

TEST_F(CliEndToEndTest, AFileThatCannotBeWrittenExits3AndLeavesTheOldOneAlone) {
    Simulator sim(dir(), {"--records", "40"});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    // The name is taken by a folder holding an earlier export: it cannot be replaced.
    ASSERT_TRUE(QDir(dir()).mkdir("taken.csv"));
    QFile old(path("taken.csv/old.csv"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("earlier records\r\n");
    old.close();

    const CliRun run = runCli(dir(), {"download", "--out", "taken.csv"});
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(run.out.endsWith("Completed Download.\nError putting into file!!\n"))
        << run.out.data();
    EXPECT_TRUE(run.err.contains("taken.csv")) << run.err.data();
    EXPECT_EQ(linesOf(path("taken.csv/old.csv")).value(0), QByteArray("earlier records\r"));
    EXPECT_EQ(QDir(path("taken.csv")).entryList(QDir::Files), QStringList{"old.csv"});

    // A folder that is not there is found before the meter is asked.
    const CliRun missing = runCli(dir(), {"download", "--out", "missing/x.csv"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_TRUE(missing.out.isEmpty()) << missing.out.data();
    EXPECT_TRUE(missing.err.contains("missing: No such file or directory")) << missing.err.data();
    EXPECT_FALSE(QFile::exists(path("missing")));

    if (::geteuid() != 0) { // permissions do not hold back root
        QFile previous(path("locked/Logdata.csv"));
        ASSERT_TRUE(QDir(dir()).mkdir("locked"));
        ASSERT_TRUE(previous.open(QIODevice::WriteOnly));
        previous.write("old\r\n");
        previous.close();
        QFile::setPermissions(path("locked"), QFile::ReadOwner | QFile::ExeOwner);
        const CliRun locked = runCli(dir(), {"download", "--out", "locked/Logdata.csv"});
        QFile::setPermissions(path("locked"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_EQ(locked.status, 3);
        EXPECT_TRUE(locked.out.isEmpty()) << locked.out.data();
        EXPECT_EQ(linesOf(path("locked/Logdata.csv")).value(0), QByteArray("old\r"));
    }
}

// A disk that fills up while the file is written: the reason in the system's words. The
// small disk is a tmpfs mounted in a namespace of the run's own.
TEST_F(CliEndToEndTest, AFullDiskIsToldInTheSystemsWords) {
    if (QProcess::execute("unshare", {"-rm", "mount", "-t", "tmpfs", "tmpfs", dir()}) != 0)
        GTEST_SKIP() << "no mount namespace for a small disk";
    Simulator sim(dir(), {"--records", "2000"});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    ASSERT_TRUE(QDir(dir()).mkdir("small"));
    for (const QStringList& extra : {QStringList{}, QStringList{"--bom"}}) {
        const QString script =
            QStringLiteral("mount -t tmpfs -o size=8k tmpfs small && exec \"$0\" \"$@\"");
        QProcess cli;
        cli.setWorkingDirectory(dir());
        cli.start("unshare",
                  QStringList{"-rm", "sh", "-c", script, builtProgram("meterlink-cli"), "download",
                              "--device", path("com1"), "--out", "small/x.csv"} +
                      extra);
        ASSERT_TRUE(cli.waitForFinished(kRunLimitMs));
        EXPECT_EQ(cli.exitCode(), 3);
        const QByteArray err = cli.readAllStandardError();
        EXPECT_TRUE(err.contains("small/x.csv: No space left on device")) << err.data();
    }
}

// The meter's line vanishes mid-download and comes back under the same com1 link on a new
// pseudo-terminal 2.5 s later: the download waits for it and writes what an undisturbed one
// writes.
TEST_F(CliEndToEndTest, ADownloadRidesOutAnUnplugUnderTheLinkFirstOpened) {
    for (const char* name : {"calm.csv", "unplugged.csv"}) {
        QStringList arguments = {"--records", "1234"};
        if (QByteArray(name) == "unplugged.csv")
            arguments << "--unplug"
                      << "5:2.5";
        Simulator sim(dir(), arguments);
        ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
        const CliRun run = runCli(dir(), {"download", "--out", name});
        ASSERT_EQ(run.status, 0) << run.err.toStdString() << sim.said().toStdString();
    }
    EXPECT_EQ(linesOf(path("unplugged.csv")), linesOf(path("calm.csv")));
    EXPECT_GT(linesOf(path("calm.csv")).size(), 100);
}

TEST_F(CliEndToEndTest, KeysReachTheMeterInOrderAndTheDisplayShowsFourLines) {
    QFile scenario(path("plain.scn"));
    ASSERT_TRUE(scenario.open(QIODevice::WriteOnly));
    scenario.write("display-mode plain\n");
    scenario.close();
    Simulator sim(dir(), {"--scenario", path("plain.scn")});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();

    const CliRun keys = runCli(dir(), {"key", "12E"});
    EXPECT_EQ(keys.status, 0) << keys.err.toStdString();
    const CliRun display = runCli(dir(), {"display"});
    EXPECT_EQ(display.status, 0) << display.err.toStdString();
    const QStringList lines = QString::fromUtf8(display.out).split('\n');
    ASSERT_EQ(lines.size(), 5) << display.out.toStdString();
    EXPECT_TRUE(lines[3].startsWith("Keys: 12E")) << lines[3].toStdString();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(lines[i].size(), 20) << lines[i].toStdString();

    const CliRun bad = runCli(dir(), {"key", "12X"});
    EXPECT_EQ(bad.status, 64);
    EXPECT_TRUE(bad.err.contains("\"X\" is not a key")) << bad.err.data();
}

TEST_F(CliEndToEndTest, ReadWithoutAMeterExits2WithThePortsReason) {
    const CliRun run = runCli(dir(), {"read", "24", "10", "--device", path("no-such-tty")});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains("no-such-tty")) << run.err.data();
}

// Opening a FIFO for writing waits for a reader, before Ctrl-C is caught.
TEST_F(CliEndToEndTest, ATraceThatIsNoPlainFileIsRefusedBeforeAnythingWaits) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
    const CliRun run = runCli(dir(), {"read", "24", "10", "--trace", "fifo"});
    EXPECT_EQ(run.status, 64);
    EXPECT_TRUE(run.err.contains("cannot open the trace file fifo: not a regular file"))
        << run.err.data();
}

// Waits, on the file's change notices, until it holds `needle`.
bool waitForFileToContain(const QString& path, const QByteArray& needle, int timeoutMs) {
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0)
        return false;
    const bool watching =
        ::inotify_add_watch(watch, QFile::encodeName(path).constData(), IN_MODIFY) >= 0;
    QDeadlineTimer deadline(timeoutMs);
    bool found = false;
    while (watching && !deadline.hasExpired()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle)) {
            found = true;
            break;
        }
        pollfd change{watch, POLLIN, 0};
        if (::poll(&change, 1, int(deadline.remainingTime())) > 0) {
            char events[4096];
            while (::read(watch, events, sizeof events) > 0) {
            }
        }
    }
    ::close(watch);
    return found;
}

// Starts a long download, waits until log blocks are coming in, and stops it with `signal`.
CliRun interruptedDownload(const QString& dir, int signal, const QStringList& more = {}) {
    QFile::remove(QDir(dir).filePath("trace.log"));
    QProcess cli;
    // The simulator hears only what is sent at its own speed.
    startCli(cli, dir, QStringList{"download", "--baud", "9600", "--trace", "trace.log"} + more);
    QByteArray out;
    QDeadlineTimer deadline(20000);
    while (!out.contains("Downloading\n") && !deadline.hasExpired() &&
           cli.waitForReadyRead(int(deadline.remainingTime())))
        out += cli.readAllStandardOutput();
    EXPECT_TRUE(waitForFileToContain(QDir(dir).filePath("trace.log"), " TX 01 60 08 84", 20000));
    ::kill(pid_t(cli.processId()), signal);
    CliRun run;
    EXPECT_TRUE(cli.waitForFinished(10000));
    run.status = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.out = out + cli.readAllStandardOutput();
    run.err = cli.readAllStandardError();
    return run;
}

TEST_F(CliEndToEndTest, SigintAndSigtermStopADownloadWithoutAFileAndWithTheTrace) {
    for (const auto& [signal, name, status, appending] :
         {std::make_tuple(SIGINT, "SIGINT", 130, false),
          std::make_tuple(SIGTERM, "SIGTERM", 143, false),
          std::make_tuple(SIGTERM, "SIGTERM", 143, true)}) {
        // A meter of its own each time: the stopped download leaves an answer on the line.
        const QString where = path(name + QString(appending ? "-append" : ""));
        ASSERT_TRUE(QDir().mkpath(where));
        // 64 KB at 9600 baud would take over a minute.
        Simulator sim(where, {"--records", "8192", "--baud", "9600"});
        ASSERT_TRUE(sim.ready()) << sim.said().toStdString();

        const CliRun stopped =
            interruptedDownload(where, signal, appending ? QStringList{"--append"} : QStringList{});
        EXPECT_EQ(stopped.status, status) << stopped.err.toStdString();
        EXPECT_TRUE(stopped.err.contains(QByteArray("stopped by ") + name)) << stopped.err.data();
        EXPECT_EQ(stopped.out, QByteArray("Downloading\nDownload stopped\n"));
        EXPECT_FALSE(QFile::exists(QDir(where).filePath("Logdata.csv")));
        EXPECT_FALSE(QFile::exists(QDir(where).filePath("Logdata.csv.state")));
        const QList<QByteArray> trace = linesOf(QDir(where).filePath("trace.log"));
        EXPECT_TRUE(trace.value(0).contains(" TX 01 03 00 4C")) << trace.value(0).data();
        bool noted = false;
        for (const QByteArray& line : trace) {
            noted = noted || line.endsWith(QByteArray(" -- stopped by ") + name);
            // A stop is told as a stop: no broken-off answer, no port refusing to open.
            EXPECT_FALSE(line.contains("broke off") || line.contains("not opened")) << line.data();
        }
        EXPECT_TRUE(noted) << name;
    }
}

TEST_F(CliEndToEndTest, WatchingTheDisplayEndsCleanlyOnSigterm) {
    Simulator sim(dir(), {"--records", "10"});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();
    QProcess cli;
    startCli(cli, dir(), {"display", "--watch"});
    QByteArray out;
    QDeadlineTimer deadline(20000);
    // Off a terminal each refresh that changes something prints four lines and a blank one.
    while (out.count('\n') < 5 && !deadline.hasExpired() &&
           cli.waitForReadyRead(int(deadline.remainingTime())))
        out += cli.readAllStandardOutput();
    ::kill(pid_t(cli.processId()), SIGTERM);
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().data();
    const QStringList lines = QString::fromUtf8(out).split('\n');
    ASSERT_GE(lines.size(), 5) << out.data();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(lines[i].size(), 20) << lines[i].toStdString();
    EXPECT_TRUE(lines[4].isEmpty());
}

} // namespace
} // namespace meterlink
