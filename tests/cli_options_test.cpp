#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/collect_run.h"
#include "cli/exit_codes.h"

#include <QBuffer>

#include <gtest/gtest.h>

namespace meterlink {
namespace {

CliOptions parsed(const QStringList& arguments) {
    const CliParse parse = parseCliArguments(arguments);
    EXPECT_TRUE(parse.error.isEmpty())
        << arguments.join(' ').toStdString() << ": " << parse.error.toStdString();
    return parse.options;
}

TEST(CliOptionsTest, DownloadTakesEveryLinkOptionAndTheFile) {
    const CliOptions o = parsed({"download", "--device", "/dev/ttyUSB0", "--port", "3", "--baud",
                                 "9600", "--slave", "17", "--out", "a b.csv", "--trace", "t.log"});
    EXPECT_EQ(o.command, CliCommand::Download);
    EXPECT_EQ(o.link.device, QString("/dev/ttyUSB0"));
    EXPECT_EQ(o.link.port, 3);
    EXPECT_EQ(o.link.baud, 9600);
    EXPECT_EQ(o.link.slave, 17);
    EXPECT_EQ(o.outPath, QString("a b.csv"));
    EXPECT_EQ(o.link.tracePath, QString("t.log"));
}

TEST(CliOptionsTest, SlavesAndSpeedsComeAsListsAndRanges) {
    const CliOptions o =
        parsed({"download", "--slave", "1,3-5,3", "--out", "m-{slave}.csv", "--append",
                "--on-restart=fail", "--on-mismatch=fail", "--timestamps", "iso", "--bom"});
    EXPECT_EQ(o.slaves, QList<int>({1, 3, 4, 5}));
    EXPECT_EQ(o.link.slave, 1);
    EXPECT_TRUE(o.append && o.failOnRestart && o.failOnMismatch && o.isoTimestamps &&
                o.byteOrderMark);
    EXPECT_FALSE(o.semicolons);
    EXPECT_TRUE(parsed({"download", "--dialect", "semicolon"}).semicolons);
    EXPECT_EQ(parsed({"scan", "--baud", "1200,9600"}).scanBauds, QList<qint32>({1200, 9600}));
    const CliOptions scan = parsed({"scan", "--slave", "250-255", "--first"});
    EXPECT_EQ(scan.slaves, QList<int>({250, 251, 252, 253, 254, 255}));
    EXPECT_TRUE(scan.first);
}

TEST(CliOptionsTest, OutNamesGetTheSlaveAndTheStartingMomentFilledIn) {
    const QDateTime started(QDate(2026, 1, 7), QTime(2, 5, 9));
    EXPECT_EQ(expandOutName("n/{slave}-{date}_{time}-{slave}.csv", 7, started),
              QString("n/7-2026-01-07_020509-7.csv"));
    EXPECT_EQ(expandOutName("Logdata.csv", 7, started), QString("Logdata.csv"));
}

TEST(CliOptionsTest, OptionsNotGivenStayUnsetSoTheSettingsFileDecides) {
    const CliOptions o = parsed({"download"});
    EXPECT_FALSE(o.link.device);
    EXPECT_FALSE(o.link.port);
    EXPECT_FALSE(o.link.baud);
    EXPECT_FALSE(o.link.slave);
    EXPECT_FALSE(o.outPath);
    EXPECT_TRUE(o.link.tracePath.isEmpty());
}

TEST(CliOptionsTest, ValuesMayFollowAnEqualsSign) {
    const CliOptions o =
        parsed({"read", "--slave=255", "0x18", "10", "--repeat=5", "--baud=115200"});
    EXPECT_EQ(o.link.slave, 255);
    EXPECT_EQ(o.address, 24);
    EXPECT_EQ(o.count, 10);
    EXPECT_EQ(o.repeat, 5);
    EXPECT_EQ(o.link.baud, 115200);
}

TEST(CliOptionsTest, KeysDisplayAndHelp) {
    EXPECT_EQ(parsed({"key", "1234567890.NLMEF"}).keys, QString("1234567890.NLMEF"));
    EXPECT_EQ(parsed({"key", "m2nlef"}).keys, QString("M2NLEF"));
    EXPECT_TRUE(parsed({"display", "--watch"}).watch);
    EXPECT_FALSE(parsed({"display"}).watch);
    EXPECT_TRUE(parsed({"--help"}).help);
    const CliOptions keyHelp = parsed({"key", "--help"});
    EXPECT_TRUE(keyHelp.help);
    EXPECT_EQ(keyHelp.command, CliCommand::Key);
}

TEST(CliOptionsTest, EveryRateOfTheWindowIsAccepted) {
    for (const char* rate : {"1200", "2400", "4800", "9600", "14400", "19200", "38400"})
        EXPECT_EQ(parsed({"display", "--baud", rate}).link.baud, QString(rate).toInt());
}

TEST(CliOptionsTest, BadArgumentsAreRefusedWithAReason) {
    const std::vector<std::pair<QStringList, const char*>> cases = {
        {{}, "no command"},
        {{"upload"}, "unknown command"},
        {{"--port", "1", "download"}, "before the command"},
        {{"download", "--port", "0"}, "--port"},
        {{"download", "--port", "5"}, "--port"},
        {{"download", "--port", "1.5"}, "--port"},
        {{"download", "--baud", "fast"}, "--baud"},
        {{"download", "--baud", "12345"}, "--baud"},
        {{"download", "--baud", "-9600"}, "--baud"},
        {{"download", "--slave", "256"}, "--slave"},
        {{"download", "--slave", "-1"}, "--slave"},
        {{"download", "--slave", "0"}, "--slave"},
        {{"read", "24", "1", "--slave", "0"}, "--slave"},
        {{"download", "--slave"}, "needs a value"},
        {{"download", "--out", ""}, "--out"},
        {{"download", "--watch"}, "unknown option"},
        {{"download", "extra"}, "unexpected argument"},
        {{"display", "--watch=yes"}, "takes no value"},
        {{"display", "--repeat", "2"}, "unknown option"},
        {{"key"}, "needs the keys"},
        {{"key", ""}, "needs the keys"},
        {{"key", "12x"}, "\"x\" is not a key"},
        {{"key", "e?"}, "\"?\" is not a key"},
        {{"key", "1", "2"}, "unexpected argument"},
        {{"read", "24"}, "ADDRESS and a COUNT"},
        {{"read", "65536", "1"}, "ADDRESS"},
        {{"read", "24", "0"}, "COUNT"},
        {{"read", "24", "126"}, "COUNT"},
        {{"read", "65535", "2"}, "run past"},
        {{"read", "24", "10", "--repeat", "0"}, "--repeat"},
        {{"read", "0xZZ", "1"}, "ADDRESS"},
        {{"ports", "--port", "1"}, "unknown option"},
        {{"ports", "all"}, "unexpected argument"},
        {{"download", "--slave", "5-3"}, "--slave"},
        {{"download", "--device", "tcp://gw"}, "tcp://HOST:PORT"},
        {{"download", "--device", "tcp://gw:0"}, "tcp://HOST:PORT"},
        {{"download", "--device", "tcp://:502"}, "tcp://HOST:PORT"},
        {{"download", "--device", "tcp://gw:502/x"}, "tcp://HOST:PORT"},
        {{"download", "--device", "tcp://::1:502"}, "tcp://HOST:PORT"},
        {{"download", "--slave", "1,,2"}, "--slave"},
        {{"download", "--slave", "1,2", "--out", "a.csv"}, "{slave}"},
        {{"download", "--slave", "1-2"}, "{slave}"},
        {{"download", "--append", "--out", "x-{date}.csv"}, "{date}"},
        {{"download", "--append", "--out", "x-{time}.csv"}, "{date}"},
        {{"download", "--on-restart", "later"}, "--on-restart"},
        {{"download", "--on-mismatch", "keep"}, "--on-mismatch"},
        {{"download", "--timestamps", "utc"}, "--timestamps"},
        {{"download", "--dialect", "tab"}, "--dialect"},
        {{"download", "--append=yes"}, "takes no value"},
        {{"scan", "--baud", "9600,fast"}, "--baud"},
        {{"scan", "--slave", "0-3"}, "--slave"},
        {{"scan", "--out", "x.csv"}, "unknown option"},
        {{"download", "--slave", "1,2", "--out", "m-{slave}.csv", "--image", "m.mlimg"},
         "--image must contain {slave}"},
        {{"download", "--append", "--image", "x-{date}.mlimg"}, "{date} or {time} in --image"},
        {{"decode", "--out", "x.csv"}, "needs the IMAGE"},
        {{"decode", "log.mlimg"}, "needs --out"},
        {{"decode", "log.mlimg", "--out", "x.csv", "--port", "1"}, "unknown option"},
    };
    for (const auto& [arguments, expected] : cases) {
        const CliParse parse = parseCliArguments(arguments);
        EXPECT_TRUE(parse.error.contains(QLatin1String(expected)))
            << arguments.join(' ').toStdString() << " gave \"" << parse.error.toStdString() << "\"";
    }
}

struct CapturedRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

CapturedRun run(const QStringList& arguments) {
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    Console console{out, err};
    CapturedRun result;
    result.status = runCli(arguments, console);
    result.out = out.data();
    result.err = err.data();
    return result;
}

TEST(CliRunnerTest, BadUsageExits64WithTheReasonAndAUsageLineOnStderr) {
    const CapturedRun r = run({"read", "24"});
    EXPECT_EQ(r.status, ExitUsage);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.startsWith("meterlink-cli: read needs an ADDRESS and a COUNT\n"));
    EXPECT_TRUE(r.err.contains("usage: meterlink-cli read ADDRESS COUNT"));
}

TEST(CliRunnerTest, HelpExplainsEveryOptionAndTheExitStatus) {
    const CapturedRun global = run({"--help"});
    EXPECT_EQ(global.status, ExitDone);
    for (const char* word : {"download", "display", "key", "read", "scan", "--device", "--port",
                             "--baud", "--slave", "--trace", "64", "130"})
        EXPECT_TRUE(global.out.contains(word)) << word;

    const CapturedRun download = run({"download", "--help"});
    EXPECT_EQ(download.status, ExitDone);
    for (const char* word : {"--out", "0 exported", "1 the log is empty", "2 the", "3 the file",
                             "4 the port", "5 the log", "64 bad usage", "130 / 143", "6040dwn.ini",
                             "--append", "{slave}", "--timestamps", "--bom"})
        EXPECT_TRUE(download.out.contains(word)) << word;
    EXPECT_TRUE(run({"display", "--help"}).out.contains("--watch"));
    EXPECT_TRUE(run({"read", "-h"}).out.contains("--repeat"));
    EXPECT_TRUE(run({"key", "--help"}).out.contains("(Enter)"));
    EXPECT_TRUE(run({"scan", "--help"}).out.contains("--first"));
    EXPECT_TRUE(run({"decode", "--help"}).out.contains("65 the image"));
}

TEST(CliRunnerTest, AnUnopenableTraceFileIsBadUsageAndNothingIsSent) {
    const CapturedRun r =
        run({"read", "24", "1", "--device", "/nonexistent/tty", "--trace", "/nonexistent/t.log"});
    EXPECT_EQ(r.status, ExitUsage);
    EXPECT_TRUE(r.err.contains("cannot open the trace file /nonexistent/t.log"));
}

} // namespace
} // namespace meterlink
