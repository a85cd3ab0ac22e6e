#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/collect_run.h"
#include "cli/console_download_view.h"
#include "cli/display_text.h"
#include "cli/download_job.h"
#include "cli/exit_codes.h"
#include "cli/link_trace.h"
#include "cli/meter_commands.h"
#include "cli_world.h"
#include "platform/stop_signal_hook.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <poll.h>

namespace meterlink {
namespace {

QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// --- the trace ---

TEST(LinkTraceTest, TimeOfDayToTheMillisecond) {
    EXPECT_EQ(LinkTrace::timeText(0.0), QString("00:00:00.000"));
    EXPECT_EQ(LinkTrace::timeText(12 * 3600 + 1.0044), QString("12:00:01.004"));
    EXPECT_EQ(LinkTrace::timeText(45296.9996), QString("12:34:57.000"));
    // Just before midnight never rounds into a 24th hour; nonsense reads as midnight.
    EXPECT_EQ(LinkTrace::timeText(86399.9999), QString("23:59:59.999"));
    EXPECT_EQ(LinkTrace::timeText(-5.0), QString("00:00:00.000"));
    EXPECT_EQ(LinkTrace::timeText(std::nan("")), QString("00:00:00.000"));
}

TEST(LinkTraceTest, FramesAreUpperCaseHexWithTheirDirection) {
    const QByteArray frame = QByteArray::fromHex("0103004c0008c5df");
    EXPECT_EQ(LinkTrace::frameLine(43201.004, "TX", frame),
              QString("12:00:01.004 TX 01 03 00 4C 00 08 C5 DF"));
    EXPECT_EQ(LinkTrace::frameLine(43202.0, "TX", frame, true),
              QString("12:00:02.000 TX (resend) 01 03 00 4C 00 08 C5 DF"));
    EXPECT_EQ(LinkTrace::eventLine(43204.0, "time-out", "No answer from slave 1"),
              QString("12:00:04.000 !! time-out: no answer from slave 1"));
    EXPECT_EQ(LinkTrace::eventLine(43204.0, "CRC failure", "CRC mismatch"),
              QString("12:00:04.000 !! CRC failure: CRC mismatch"));
}

struct TracedWorld : CliWorld {
    TracedWorld() {
        EXPECT_TRUE(trace.open(dir.filePath("trace.log")));
        trace.setFailureSource([this]() -> const LinkFailure& { return link.lastFailure(); });
        link.setObserver(&trace);
    }
    QStringList lines() const { return fileLines(dir.filePath("trace.log")); }

    QTemporaryDir dir;
    LinkTrace trace;
};

const QRegularExpression kTimePrefix("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d ");

TEST(LinkTraceTest, AnAnsweredReadIsOneTxAndOneRxLineOnDiskAtOnce) {
    TracedWorld w;
    ASSERT_TRUE(LinkSession(w.link).ReadHoldingRegisters(1, 0, 24, 10));
    // Still open: the lines are in the file already, as a crash would leave them.
    const QStringList lines = w.lines();
    ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("12:00:00.0"));
    EXPECT_TRUE(lines[0].contains(kTimePrefix));
    EXPECT_EQ(lines[0].mid(13), QString("TX 01 03 00 18 00 0A 45 CA"));
    EXPECT_TRUE(lines[1].mid(13).startsWith("RX 01 03 14 "));
    EXPECT_EQ(lines[1].mid(16).split(' ').size(), 25);
}

TEST(LinkTraceTest, ResendsAndTheTimeOutAreMarked) {
    TracedWorld w;
    MeterFaults silent;
    silent.silent = true;
    w.meter.setFaults(silent);
    ASSERT_FALSE(LinkSession(w.link).ReadHoldingRegisters(1, 0, 24, 10));
    const QStringList lines = w.lines();
    ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0].mid(13), QString("TX 01 03 00 18 00 0A 45 CA"));
    EXPECT_EQ(lines[1].mid(13), QString("!! try 1: no answer"));
    EXPECT_EQ(lines[2].mid(13), QString("TX (resend) 01 03 00 18 00 0A 45 CA"));
    EXPECT_EQ(lines[3].mid(13), QString("!! try 2: no answer"));
    EXPECT_EQ(lines[4].mid(13), QString("TX (resend) 01 03 00 18 00 0A 45 CA"));
    EXPECT_EQ(lines[5].mid(13),
              QString("!! time-out: no answer from slave 1 at 38400 baud after 3 sends"));
}

TEST(LinkTraceTest, CrcFailuresAndExceptionAnswersAreMarked) {
    TracedWorld w;
    MeterFaults badCrc;
    badCrc.badCrcEvery = 1;
    w.meter.setFaults(badCrc);
    EXPECT_FALSE(LinkSession(w.link).ReadHoldingRegisters(1, 0, 24, 10));
    MeterFaults exception;
    exception.exceptionCode = 2;
    w.meter.setFaults(exception);
    EXPECT_FALSE(LinkSession(w.link).ReadHoldingRegisters(1, 0, 24, 10));

    const QStringList lines = w.lines();
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[2].mid(13), QString("!! CRC failure: CRC mismatch in the answer from slave 1"));
    EXPECT_EQ(lines.last().mid(13), QString("!! exception: slave 1 refused the function 3 request: "
                                            "illegal data address (exception code 2)"));
    EXPECT_TRUE(lines[lines.size() - 2].mid(13).startsWith("RX 01 83 02"));
}

TEST(LinkTraceTest, AppendsToAnEarlierTrace) {
    TracedWorld w;
    ASSERT_TRUE(LinkSession(w.link).ReadHoldingRegisters(1, 0, 24, 1));
    LinkTrace second;
    ASSERT_TRUE(second.open(w.dir.filePath("trace.log")));
    second.note(43200.5, "stopped by SIGINT");
    const QStringList lines = w.lines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[2], QString("12:00:00.500 -- stopped by SIGINT"));
}

// --- key, read, display ---

TEST(MeterCommandsTest, KeysReachTheMeterInOrderOneWriteEach) {
    CliWorld w;
    MeterCommands commands(w.link, 1, w.out, w.err);
    EXPECT_EQ(commands.pressKeys("12E"), ExitDone);
    EXPECT_EQ(w.meter.keysReceived(), QByteArray("12E"));
    ASSERT_EQ(w.memoryPort.written().size(), 3u);
    EXPECT_EQ(w.memoryPort.written()[2].bytes.left(9), QByteArray::fromHex("011000d100010245ff"));
    EXPECT_EQ(w.out.data(), QByteArray("keys pressed: 12E\n"));
}

TEST(MeterCommandsTest, AKeyTheMeterDoesNotTakeStopsTheRestWithTheReason) {
    CliWorld w;
    MeterFaults silent;
    silent.silent = true;
    w.meter.setFaults(silent);
    MeterCommands commands(w.link, 1, w.out, w.err);
    EXPECT_EQ(commands.pressKeys("M2"), ExitLinkFailed);
    EXPECT_EQ(w.memoryPort.written().size(), 3u); // the first key and its two resends
    EXPECT_TRUE(w.err.data().startsWith("meterlink-cli: key M (1 of 2) was not taken: No answer "
                                        "from slave 1"))
        << w.err.data().toStdString();
    EXPECT_TRUE(w.out.data().isEmpty());
}

TEST(MeterCommandsTest, ReadPrintsEachRegisterInHexAndAsText) {
    CliWorld w;
    w.meter.display().setFixedLine(0, "SIMULATED METER");
    MeterCommands commands(w.link, 1, w.out, w.err);
    EXPECT_EQ(commands.readRegisters(24, 3), ExitDone);
    EXPECT_EQ(w.out.data(), QByteArray("24: 5349 \"SI\"\n"
                                       "25: 4D55 \"MU\"\n"
                                       "26: 4C41 \"LA\"\n"
                                       "text: \"SIMULA\"\n"));
}

TEST(MeterCommandsTest, RepeatedReadsReportRateAndProcessorTime) {
    CliWorld w;
    MeterCommands commands(w.link, 1, w.out, w.err);
    EXPECT_EQ(commands.readRegisters(24, 10, 5), ExitDone);
    EXPECT_EQ(w.memoryPort.written().size(), 5u);
    const QString last = QString::fromUtf8(w.out.data()).trimmed().split('\n').last();
    EXPECT_TRUE(last.contains(QRegularExpression(
        "^5 reads in [0-9.]+ s: [0-9.]+ transactions/s, [0-9.]+ CPU s per 1000 transactions$")))
        << last.toStdString();
}

TEST(MeterCommandsTest, DisplayLinesAreCleanedAndPrintable) {
    CliWorld w;
    w.meter.display().setFixedLine(
        0, QByteArray::fromHex("000a0bfeff fd1b41809d 4c696e6520312020 2020").replace(' ', ""));
    w.meter.display().setFixedLine(1, "Line 2");
    MeterCommands commands(w.link, 1, w.out, w.err);
    EXPECT_EQ(commands.printDisplay(), ExitDone);
    const QStringList lines = QString::fromUtf8(w.out.data()).split('\n');
    ASSERT_EQ(lines.size(), 5); // four lines and the final newline
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(lines[i].size(), 20) << i;
    EXPECT_EQ(lines[0].left(10), QString::fromUtf16(u"▒▒▒▒▒ý▒A€▒"));
    EXPECT_EQ(lines[1], QString("Line 2              "));
}

TEST(MeterCommandsTest, ADisplayThatDoesNotAnswerFailsWithTheReason) {
    CliWorld w;
    MeterFaults silent;
    silent.silent = true;
    w.meter.setFaults(silent);
    MeterCommands commands(w.link, 1, w.out, w.err);
    EXPECT_EQ(commands.printDisplay(), ExitLinkFailed);
    EXPECT_TRUE(w.out.data().isEmpty());
    EXPECT_TRUE(w.err.data().startsWith("meterlink-cli: display line 1: No answer from slave 1"));
}

TEST(DisplayTextTest, ControlsAndUnassignedCodesBecomeTheSubstitute) {
    EXPECT_EQ(printableMeterText(QByteArray::fromHex("1b5b324a")), QString::fromUtf16(u"▒[2J"));
    EXPECT_EQ(printableMeterText(QByteArray::fromHex("7f81a0e9ff")),
              QString::fromUtf16(u"▒▒\u00a0éÿ"));
    EXPECT_EQ(printableMeterText(QByteArray::fromHex("9d")).at(0), QChar(kUnprintableSubstitute));
}

// --- the download ---

struct DownloadWorld : CliWorld {
    explicit DownloadWorld(int records, bool bar = false) : DownloadWorld(logOf(records), bar) {}
    DownloadWorld(MeterLog log, bool bar) : CliWorld(std::move(log)), view(out, err, bar) {
        settings.SaveFileName = dir.filePath("Logdata.csv");
    }
    static MeterLog logOf(int records) {
        MeterLog::Generation how;
        how.records = records;
        return MeterLog::generated(how);
    }
    int run() { return runDownloadJob(link, pump, settings, view, QLocale::c()); }

    QTemporaryDir dir;
    ConsoleDownloadView view;
};

TEST(DownloadJobTest, ExportedPrintsTheThreeStatusTextsAndWritesTheFile) {
    DownloadWorld w(300);
    EXPECT_EQ(w.run(), ExitDone);
    EXPECT_EQ(w.out.data(),
              QByteArray("Downloading\nCompleted Download.\nFinished. Data in File\n"));
    EXPECT_TRUE(w.err.data().isEmpty()); // no terminal, no bar
    const QStringList rows = fileLines(w.settings.SaveFileName);
    EXPECT_EQ(rows.size(), 1 + 300 / 4);
    EXPECT_EQ(rows[0], QString("Date / Time,Flow Rate,Totaliser,Pressure,Temperature\r"));
}

// Below a tenth of the memory available: told after a download that went well, as the
// window's status tooltip and the command line's last line.
TEST(DownloadJobTest, ALoggerNearlyFullIsToldWithTheOutcome) {
    struct Row {
        float used, available;
        const char* told;
    };
    for (const Row& row : {Row{1900, 100, "Logger nearly full: 100 of 2000 records available."},
                           Row{1800, 200, ""}, Row{-5, 1, ""}}) {
        MeterLog log = DownloadWorld::logOf(40);
        log.setCounters(row.used, row.available);
        DownloadWorld w(std::move(log), false);
        EXPECT_EQ(w.run(), ExitDone);
        EXPECT_EQ(w.view.reason().left(int(strlen(row.told))), QString(row.told))
            << w.view.reason().toStdString();
        EXPECT_EQ(w.view.reason().isEmpty(), !*row.told);
    }
}

TEST(DownloadJobTest, OnATerminalTheBarReachesAHundredAndEndsItsLine) {
    DownloadWorld w(3000, true);
    EXPECT_EQ(w.run(), ExitDone);
    const QByteArray bar = w.err.data();
    EXPECT_TRUE(bar.startsWith("\r[")) << bar.toStdString();
    EXPECT_TRUE(bar.contains("] 100%\n"));
    EXPECT_GT(bar.count('\r'), 5);
}

TEST(DownloadJobTest, EmptyLogExits1WithoutAFile) {
    DownloadWorld w(0);
    EXPECT_EQ(w.run(), ExitEmptyLog);
    EXPECT_EQ(w.out.data(), QByteArray("Downloading\n0 Records Available\n"));
    EXPECT_FALSE(QFile::exists(w.settings.SaveFileName));
}

TEST(DownloadJobTest, NoAnswerExits2WithAReasonAndNoFile) {
    DownloadWorld w(40);
    MeterFaults silent;
    silent.silent = true;
    w.meter.setFaults(silent);
    EXPECT_EQ(w.run(), ExitLinkFailed);
    EXPECT_EQ(w.out.data(), QByteArray("Downloading\nError in Downloading!!\n"));
    EXPECT_TRUE(w.view.reason().contains("No answer from slave 1"))
        << w.view.reason().toStdString();
    // A meter that never answered: where to look instead.
    EXPECT_TRUE(w.view.reason().endsWith("or find them with meterlink-cli scan."))
        << w.view.reason().toStdString();
    EXPECT_FALSE(QFile::exists(w.settings.SaveFileName));
}

TEST(DownloadJobTest, AFileThatCannotBeWrittenExits3) {
    DownloadWorld w(40);
    w.settings.SaveFileName = w.dir.filePath("missing/Logdata.csv");
    EXPECT_EQ(w.run(), ExitFileNotWritten);
    EXPECT_TRUE(w.out.data().endsWith("Error putting into file!!\n"));
    EXPECT_TRUE(w.view.reason().contains("missing")) << w.view.reason().toStdString();
}

TEST(DownloadJobTest, AnAbortEndsTheDownloadAtOnceAsAStopWithoutAFile) {
    DownloadWorld w(3000);
    // Stopped in the middle of the log: the waiting block and everything after fail at once.
    w.pump.setHook([&w] {
        if (w.memoryPort.written().size() == 14)
            w.link.abort();
    });
    EXPECT_EQ(w.run(), ExitLinkFailed);
    EXPECT_EQ(w.out.data(), QByteArray("Downloading\nDownload stopped\n"));
    EXPECT_EQ(w.memoryPort.written().size(), 14u);
    EXPECT_LT(w.clock.elapsed(), 5.0);
    EXPECT_FALSE(QFile::exists(w.settings.SaveFileName));
}

// --- appending ---

struct AppendWorld : CliWorld {
    explicit AppendWorld(int records) : CliWorld(logOf(records)) {}
    // The generated log with record 128, the first of the second block, erased.
    static MeterLog logOf(int records) {
        MeterLog::Generation how;
        how.records = records;
        const MeterLog generated = MeterLog::generated(how);
        MeterLog log;
        for (int i = 0; i < records; ++i)
            log.append(i == 128 ? LogRecord::fromRaw(QByteArray(8, '\xFF'))
                                : generated.records()[size_t(i)]);
        return log;
    }
    int run(bool append, const QString& name, const QDateTime& now, bool iso = false) {
        CliOptions options;
        options.append = append;
        options.isoTimestamps = iso;
        return run(options, name, now);
    }
    int run(const CliOptions& options, const QString& name, const QDateTime& now) {
        Settings meter = settings;
        meter.SaveFileName = dir.filePath(name);
        Console console{out, err};
        return runCollect(
            link, pump, [] { return false; }, meter, options, console, now);
    }
    QByteArray contents(const QString& name) const {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }

    QTemporaryDir dir;
};

TEST(AppendTest, UndatedRecordsAtTheSeamJoinTheRowBeforeAsInAWholeDownload) {
    const QDateTime now(QDate(2027, 3, 1), QTime(12, 0));
    AppendWorld w(129); // the seam block holds the erased record alone
    ASSERT_EQ(w.run(true, "Logdata.csv", now), ExitDone) << w.err.data().data();
    w.meter.setLog(AppendWorld::logOf(300));
    ASSERT_EQ(w.run(true, "Logdata.csv", now), ExitDone) << w.err.data().data();
    ASSERT_EQ(w.run(false, "whole.csv", now), ExitDone);
    EXPECT_EQ(w.contents("Logdata.csv"), w.contents("whole.csv"));
    // The row before the erased record keeps its moment.
    EXPECT_FALSE(w.contents("whole.csv").contains("\n00:00:00")) << w.contents("whole.csv").data();
}

TEST(AppendTest, IsoFilesGetRealYearsAndAppendsGoOnWithTheFilesYears) {
    AppendWorld w(300);
    const QDateTime march2027(QDate(2027, 3, 1), QTime(12, 0));
    ASSERT_EQ(w.run(true, "Logdata.csv", march2027, true), ExitDone) << w.err.data().data();
    w.meter.setLog(AppendWorld::logOf(600));
    // A year later by the PC's clock the log's newest day, 2 June, would be 2027's.
    ASSERT_EQ(w.run(true, "Logdata.csv", QDateTime(QDate(2028, 6, 3), QTime(0, 0)), true),
              ExitDone);
    ASSERT_EQ(w.run(false, "whole.csv", march2027, true), ExitDone);
    EXPECT_EQ(w.contents("Logdata.csv"), w.contents("whole.csv"));
    EXPECT_TRUE(w.contents("whole.csv").contains("\r\n2026-05-30 22:00:00,"))
        << w.contents("whole.csv").left(200).data();
}

// An append that writes nothing: its exit status, its last status line and why.
TEST(AppendTest, AnAppendThatWritesNothingExitsWithItsReason) {
    struct Row {
        const char* what;
        int records;
        bool silent;
        const char* fileName;
        bool fileWithoutState;
        int exit;
        const char* lastLine;
        const char* reason;
    };
    const Row rows[] = {
        {"empty log", 0, false, "Logdata.csv", false, ExitEmptyLog, "\n0 Records Available\n", ""},
        {"silent meter", 300, true, "Logdata.csv", false, ExitLinkFailed,
         "\nError in Downloading!!\n", "or find them with meterlink-cli scan."},
        {"unwritable", 300, false, "missing/Logdata.csv", false, ExitFileNotWritten,
         "\nError putting into file!!\n", "Cannot write"},
        {"not as left", 300, false, "Logdata.csv", true, ExitFileNotWritten, "Not appended\n",
         "so what it holds is unknown; nothing written (--on-mismatch=fail)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AppendWorld w(row.records);
        if (row.silent) {
            MeterFaults silent;
            silent.silent = true;
            w.meter.setFaults(silent);
        }
        const QByteArray earlier = "earlier download\r\n";
        if (row.fileWithoutState) {
            QFile file(w.dir.filePath(row.fileName));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(earlier);
        }
        CliOptions options;
        options.append = true;
        options.failOnMismatch = true;
        EXPECT_EQ(w.run(options, row.fileName, QDateTime(QDate(2027, 3, 1), QTime(12, 0))),
                  row.exit);
        EXPECT_TRUE(w.out.data().endsWith(row.lastLine)) << w.out.data().data();
        EXPECT_TRUE(w.err.data().contains(row.reason)) << w.err.data().data();
        EXPECT_EQ(w.contents(row.fileName),
                  row.fileWithoutState ? earlier : QByteArray("(missing)"));
        EXPECT_FALSE(QFile::exists(w.dir.filePath(row.fileName) + ".state"));
    }
}

// --- stop signals ---

// A stop is caught, not blocked: had the hook not been there, the default would have ended
// the process; once it is gone, the default is back.
TEST(StopSignalHookTest, CatchesAStopWithoutBlockingItAndPutsBackWhatWasThere) {
    struct sigaction before {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &before), 0);
    {
        StopSignalHook hook;
        ASSERT_TRUE(hook.isInstalled());
        EXPECT_FALSE(StopSignalHook().isInstalled()) << "one hook at a time";
        sigset_t blocked;
        ASSERT_EQ(::sigprocmask(SIG_BLOCK, nullptr, &blocked), 0);
        EXPECT_FALSE(sigismember(&blocked, SIGINT) || sigismember(&blocked, SIGTERM));
        EXPECT_EQ(hook.takeSignal(), 0);

        ASSERT_EQ(std::raise(SIGTERM), 0);
        pollfd ready{int(hook.waitHandle()), POLLIN, 0};
        EXPECT_EQ(::poll(&ready, 1, 0), 1);
        EXPECT_EQ(hook.takeSignal(), SIGTERM);
        EXPECT_EQ(::poll(&ready, 1, 0), 0) << "taken: no longer ready";
    }
    struct sigaction after {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

} // namespace
} // namespace meterlink
