#include "sim/log_record.h"
#include "sim/meter_display.h"
#include "sim/meter_log.h"
#include "sim/meter_scenario.h"

#include <gtest/gtest.h>

#include <set>

namespace meterlink {
namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

TEST(MeterEncoding, FloatsAndRecordsMatchKnownBytes) {
    EXPECT_EQ(encodeMeterFloat(1.0f), hex("3f800000"));
    EXPECT_EQ(encodeMeterFloat(12.5f), hex("41480000"));
    EXPECT_EQ(encodeMeterFloat(-100.0f), hex("c2c80000"));
    EXPECT_EQ(encodeRecord(2, 5, 17, 9, 30, 12.5f), hex("2517093041480000"));
    EXPECT_EQ(encodeRecord(8, 12, 31, 23, 59, 0.0f), hex("8c31235900000000"));
}

TEST(MeterEncoding, RawRecordsDecodeAndExport) {
    const LogRecord r = LogRecord::fromRaw(hex("2517093041480000"));
    EXPECT_EQ(r.channel, 2);
    EXPECT_EQ(r.timestamp(), QDateTime(QDate(2001, 5, 17), QTime(9, 30)));
    EXPECT_EQ(r.exportLine(), QByteArray("2,2001-05-17 09:30,12.5"));
    // Not a date: no timestamp, but the bytes stay as given.
    const LogRecord odd = LogRecord::fromRaw(hex("1f99ff0000000000"));
    EXPECT_FALSE(odd.timestamp().isValid());
    EXPECT_EQ(odd.raw, hex("1f99ff0000000000"));
}

TEST(GeneratedLog, GroupsChannelsAtEqualTimesAndAdvancesAcrossDays) {
    const MeterLog log = MeterLog::generated({400, 11});
    ASSERT_EQ(log.recordCount(), 400);
    const auto& records = log.records();
    for (size_t i = 0; i < records.size(); i += 4) {
        for (size_t j = 0; j < 4; ++j) {
            EXPECT_EQ(records[i + j].channel, static_cast<int>(j) + 1);
            EXPECT_EQ(records[i + j].timestamp(), records[i].timestamp());
        }
        if (i > 0) {
            EXPECT_GT(records[i].timestamp(), records[i - 4].timestamp());
        }
    }
    std::set<int> days;
    for (const LogRecord& r : records) {
        ASSERT_TRUE(r.timestamp().isValid());
        EXPECT_EQ(r.year, 2001);
        days.insert(r.month * 100 + r.day);
    }
    EXPECT_GE(days.size(), 2u);
    EXPECT_TRUE(days.count(601)) << "crosses into June";
}

TEST(GeneratedLog, ReadingsArePlausibleAndSeedDecides) {
    const MeterLog a = MeterLog::generated({200, 1});
    const MeterLog b = MeterLog::generated({200, 1});
    const MeterLog c = MeterLog::generated({200, 2});
    EXPECT_EQ(a.bytes(), b.bytes());
    EXPECT_NE(a.bytes(), c.bytes());
    float previousTotal = 0.0f;
    for (const LogRecord& r : a.records()) {
        if (r.channel == 1) {
            EXPECT_GT(r.value, 60.0f);
            EXPECT_LT(r.value, 180.0f);
        } else if (r.channel == 2) {
            EXPECT_GT(r.value, previousTotal);
            previousTotal = r.value;
        }
    }
}

TEST(GeneratedLog, ExportListsEveryRecordInOrder) {
    const MeterLog log = MeterLog::generated({5, 3});
    const QList<QByteArray> lines = log.exportText().split('\n');
    ASSERT_EQ(lines.size(), 6);
    EXPECT_TRUE(lines.last().isEmpty());
    EXPECT_TRUE(lines.first().startsWith("1,2001-05-30 22:00,"));
    EXPECT_TRUE(lines.at(4).startsWith("1,2001-05-30 22:30,"));
}

TEST(GeneratedLog, StopsAtTheLoggerCapacity) {
    const MeterLog log = MeterLog::generated({MeterLog::CapacityRecords + 10, 1});
    EXPECT_EQ(log.recordCount(), MeterLog::CapacityRecords);
    MeterLog full = log;
    EXPECT_FALSE(full.append(log.records().front()));
}

TEST(ConfigBlock, PadsNamesWithErasedBytes) {
    MeterLog log;
    const QByteArray unused = log.configBlock(5);
    ASSERT_EQ(unused.size(), 100);
    EXPECT_EQ(unused.mid(64, 8), QByteArray("Not Used"));
    EXPECT_EQ(unused.mid(72, 24), QByteArray(24, '\xFF'));
}

// Display ------------------------------------------------------------------------------

QByteArray press(MeterDisplay& d, const char* keys) {
    for (const char* k = keys; *k; ++k)
        d.pressKey(*k, 0.0);
    return d.line(3, 0.0);
}

TEST(MeterDisplayKeys, PlainModeShowsKeyOrder) {
    MeterDisplay d;
    d.setMode(MeterDisplay::Mode::Plain);
    EXPECT_EQ(press(d, "12E"), QByteArray("Keys: 12E           "));
    EXPECT_EQ(press(d, "X"), QByteArray("Keys: 12E           ")) << "not a key";
    // The newest keys stay in view.
    EXPECT_EQ(press(d, "3456789.NLMF0"), QByteArray("Keys: E3456789.NLMF0"));
}

TEST(MeterDisplayKeys, MenuMovesSelectsAndStoresEntries) {
    MeterDisplay d;
    EXPECT_TRUE(d.line(0, 0.0).startsWith("FLOW"));
    press(d, "M");
    EXPECT_TRUE(d.line(0, 0.0).startsWith("MENU"));
    EXPECT_EQ(d.line(1, 0.0).trimmed(), QByteArray("> Flow units"));
    press(d, "LL");
    EXPECT_EQ(d.line(1, 0.0).trimmed(), QByteArray("> Log interval"));
    press(d, "N");
    EXPECT_EQ(d.line(1, 0.0).trimmed(), QByteArray("> Damping"));
    press(d, "E");
    EXPECT_EQ(d.line(0, 0.0).trimmed(), QByteArray("Damping"));
    EXPECT_EQ(press(d, "2.5").trimmed(), QByteArray("> 2.5"));
    press(d, "E");
    EXPECT_TRUE(d.line(0, 0.0).startsWith("MENU"));
    press(d, "E");
    EXPECT_TRUE(d.line(1, 0.0).trimmed().endsWith("2.5s"));
    EXPECT_TRUE(press(d, "F").endsWith("2nd"));
    press(d, "MM");
    EXPECT_TRUE(d.line(0, 0.0).startsWith("FLOW"));
}

TEST(MeterDisplayKeys, LinesAreAlwaysTwentyBytes) {
    MeterDisplay d;
    d.setRecordCount(123456789);
    for (double now : {0.0, 1e6, -5.0, 1e12})
        for (int i = -1; i <= 4; ++i)
            EXPECT_EQ(d.line(i, now).size(), 20);
    press(d, "1234567890123456789");
    EXPECT_EQ(d.line(3, 0.0).size(), 20);
    d.setFixedLine(1, QByteArray(30, 'x'));
    EXPECT_EQ(d.line(1, 0.0), QByteArray(20, 'x'));
}

// Scenario files -----------------------------------------------------------------------

TEST(Scenario, ReadsEveryStatement) {
    const MeterScenario s = parseMeterScenario("# a meter\n"
                                               "slave 7\n"
                                               "channel 2 \"Level \\\"A\\\"\"\n"
                                               "channel 5 \"Not Used \"\n"
                                               "record 1 2001-05-17 09:30 12.5\n"
                                               "raw 25 17 09 30 41 48 00 00\n"
                                               "state 8 16\n"
                                               "counters 2.5 100\n"
                                               "display 1 \"HELLO\"\n"
                                               "display-bytes 2 00 0a fe ff\n"
                                               "display-mode plain\r\n");
    EXPECT_TRUE(s.errors.isEmpty()) << s.errors.join('\n').toStdString();
    EXPECT_EQ(s.slaveId, 7);
    EXPECT_EQ(s.log.channelNames()[1], QString("Level \"A\""));
    EXPECT_EQ(s.log.channelNames()[4], QString("Not Used "));
    ASSERT_EQ(s.log.recordCount(), 2);
    EXPECT_EQ(s.log.bytes(), hex("1517093041480000"
                                 "2517093041480000"));
    EXPECT_EQ(s.log.stateBlock().left(8), hex("0000000800000010"));
    EXPECT_EQ(s.log.stateBlock().mid(8, 4), encodeMeterFloat(2.5f));
    EXPECT_EQ(*s.displayLines[0], QByteArray("HELLO"));
    EXPECT_EQ(*s.displayLines[1], hex("000afeff"));
    EXPECT_EQ(s.displayMode, MeterDisplay::Mode::Plain);
}

TEST(Scenario, ReportsBadLinesWithNumbersAndKeepsTheRest) {
    const MeterScenario s = parseMeterScenario("slave 0\n"
                                               "channel 9 \"X\"\n"
                                               "channel 1 \"open\n"
                                               "record 1 2001-02-30 09:30 1\n"
                                               "record 1 2001-02-03 09:30 1\n"
                                               "raw 25 17 09\n"
                                               "raw 25 17 09 30 41 48 00 zz\n"
                                               "display 5 \"x\"\n"
                                               "bogus\n"
                                               "\n"
                                               "record 1 2001-02-03 09:30 nan\n");
    ASSERT_EQ(s.errors.size(), 9) << s.errors.join('\n').toStdString();
    EXPECT_TRUE(s.errors[0].startsWith("line 1:"));
    EXPECT_TRUE(s.errors[3].startsWith("line 4:"));
    EXPECT_TRUE(s.errors[7].startsWith("line 9:"));
    EXPECT_TRUE(s.errors[8].startsWith("line 11:"));
    EXPECT_FALSE(s.slaveId.has_value());
    EXPECT_EQ(s.log.recordCount(), 1);
}

TEST(Scenario, SurvivesArbitraryBytes) {
    QByteArray junk;
    for (int i = 0; i < 5000; ++i)
        junk.append(static_cast<char>((i * 7919) % 256));
    const MeterScenario s = parseMeterScenario(junk);
    EXPECT_FALSE(s.errors.isEmpty());
    EXPECT_TRUE(parseMeterScenario(QByteArray()).errors.isEmpty());
}

} // namespace
} // namespace meterlink
