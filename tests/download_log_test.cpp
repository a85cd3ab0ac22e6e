#include "logger_test_world.h"
#include "modbus/crc16.h"
#include "sim/log_record.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace meterlink {
namespace {

bool isBlockRequest(const QByteArray& frame, int bank, int addressHi) {
    return frame.size() == 9 && quint8(frame[1]) == 0x60 && quint8(frame[2]) == bank &&
           quint8(frame[3]) == addressHi;
}

QString expectedTimestamp(const LogRecord& r) {
    const QDateTime when(QDate(2001, r.month, r.day), QTime(r.hour, r.minute));
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    return when.time() == QTime(0, 0) ? us.toString(when.date(), "M/d/yyyy")
                                      : us.toString(when, "M/d/yyyy h:mm:ss AP");
}

TEST(DownloadLog, EmptyLogEndsAfterTheStateReadAlone) {
    LoggerWorld world;
    world.panel.text3[8] << "old";
    EXPECT_EQ(world.download.run(), DownloadLog::Empty);
    EXPECT_EQ(world.port.written().size(), 1u);
    EXPECT_EQ(world.panel.text3.size(), 1u);
    EXPECT_EQ(world.grid.TextMatrix(1, 1), "");
    EXPECT_TRUE(world.grid.Redraw());
}

TEST(DownloadLog, OneRecordIsOneBlockOfLengthFour) {
    LoggerWorld world(generatedLog(1));
    EXPECT_EQ(world.download.run(), DownloadLog::Completed);
    const auto requests = world.blockRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bank, 8);
    EXPECT_EQ(requests[0].addressHi, 0x80);
    EXPECT_EQ(requests[0].addressLo, 0);
    EXPECT_EQ(requests[0].length, 4);
    EXPECT_EQ(world.framesOf(0x60).size(), 9u);
    ASSERT_EQ(world.panel.progress.size(), 2u);
    EXPECT_EQ(world.panel.progress[1], 0.0f);
    EXPECT_EQ(world.download.LastGridRow(), 2);
    EXPECT_EQ(world.grid.TextMatrix(2, 0), "1");
}

TEST(DownloadLog, ThousandBytesAreOneBlockOfLengthFiveHundred) {
    LoggerWorld world(generatedLog(125));
    EXPECT_EQ(world.download.run(), DownloadLog::Completed);
    const auto requests = world.blockRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].length, 500);
    EXPECT_EQ(world.download.LastGridRow(), 1 + 125 / 4 + 1);
}

TEST(DownloadLog, OddLengthAsksForTheWholeLastByte) {
    MeterLog log = generatedLog(4);
    log.setPointers(0, 17); // T = 25
    LoggerWorld world(log);
    EXPECT_EQ(world.download.run(), DownloadLog::Completed);
    const auto requests = world.blockRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].length, 13);
    // Three whole records of three channels at one moment.
    EXPECT_EQ(world.download.LastGridRow(), 2);
    EXPECT_NE(world.grid.TextMatrix(2, 4), "");
    EXPECT_EQ(world.grid.TextMatrix(2, 5), "");
}

TEST(DownloadLog, LongLogWalksTheBanksInBlocksAndFillsTheGrid) {
    const int records = 5200; // 41600 bytes: 41 blocks, the last of 640 bytes
    LoggerWorld world(generatedLog(records));
    EXPECT_EQ(world.download.run(), DownloadLog::Completed);

    const auto requests = world.blockRequests();
    ASSERT_EQ(requests.size(), 41u);
    for (size_t i = 0; i < requests.size(); ++i) {
        const int offset = int(i) * 1024;
        SCOPED_TRACE(offset);
        EXPECT_EQ(requests[i].bank, 8 + offset / 16384);
        EXPECT_EQ(requests[i].addressHi, 0x80 + (offset % 16384) / 256);
        EXPECT_EQ(requests[i].addressLo, 0);
        EXPECT_EQ(requests[i].length, i + 1 < requests.size() ? 512 : 320);
    }
    EXPECT_EQ(requests[15].bank, 8);
    EXPECT_EQ(requests[15].addressHi, 0xBC);
    EXPECT_EQ(requests[16].bank, 9);
    EXPECT_EQ(requests[16].addressHi, 0x80);
    EXPECT_EQ(requests[40].bank, 10);
    EXPECT_EQ(requests[40].addressHi, 0xA0);

    // Groups of four channels never straddle a block, so every moment is one row.
    EXPECT_EQ(world.download.LastGridRow(), 1 + records / 4);
    const auto& log = world.meter.log().records();
    for (int index : {0, 1, 2, 3, 2047, 5199}) {
        SCOPED_TRACE(index);
        const LogRecord& r = log[size_t(index)];
        const int row = 2 + index / 4;
        EXPECT_EQ(world.grid.TextMatrix(row, 0), QString::number(row - 1));
        EXPECT_EQ(world.grid.TextMatrix(row, 1), expectedTimestamp(r));
        const QString reading = world.grid.TextMatrix(row, r.channel + 1);
        EXPECT_FLOAT_EQ(reading.trimmed().toFloat(), r.value) << reading.toStdString();
    }

    // Progress D / T x 100 after every block, with the grid silent all the while.
    ASSERT_EQ(world.panel.progress.size(), 42u);
    EXPECT_FLOAT_EQ(world.panel.progress[41], float(40960.0 / 41600.0 * 100.0));
    for (size_t i = 1; i < world.panel.redrawAtProgress.size(); ++i)
        EXPECT_FALSE(world.panel.redrawAtProgress[i]) << i;
    EXPECT_TRUE(world.grid.Redraw());
}

TEST(DownloadLog, ShowsCountersAndChannelNamesAndBuildsTheHeader) {
    MeterLog log = generatedLog(8);
    log.setCounters(12.9f, -0.5f);
    LoggerWorld world(log);
    EXPECT_EQ(world.download.run(), DownloadLog::Completed);

    EXPECT_EQ(world.panel.lastText3(9), " 12");
    EXPECT_EQ(world.panel.lastText3(8), "-1");
    EXPECT_EQ(world.panel.lastText3(0), "Flow Rate");
    EXPECT_EQ(world.panel.lastText3(4), "Not Used");

    const QStringList header = {"Record #",  "Date / Time", "Flow Rate",
                                "Totaliser", "Pressure",    "Temperature"};
    for (int column = 0; column < GridModel::columns; ++column) {
        SCOPED_TRACE(column);
        const bool named = column < header.size();
        EXPECT_EQ(world.grid.TextMatrix(1, column), named ? header[column] : QString());
        EXPECT_EQ(world.grid.CellFontBold(1, column), named);
        EXPECT_EQ(world.grid.CellFontUnderline(1, column), named);
        EXPECT_EQ(world.grid.ColWidth(column), column == 0 ? 1000 : column == 1 ? 1800 : 2000);
    }
    const bool expected[] = {false, true, true, true, true, false, false, false, false};
    for (int k = 1; k <= 8; ++k)
        EXPECT_EQ(world.download.ChannelInUse(k), expected[k]) << k;
}

TEST(DownloadLog, ChannelNamesAreStrippedAndComparedExactly) {
    MeterLog log = generatedLog(1);
    log.setChannelName(1, QString::fromLatin1("Flo\xFEw\x01"));
    log.setChannelName(2, "not used");
    log.setChannelName(3, "Not Used ");
    log.setChannelName(4, QString::fromLatin1("\xFE\xFF\xFE"));
    LoggerWorld world(log);
    world.download.run();
    EXPECT_EQ(world.panel.lastText3(0), QString::fromLatin1("Flow\x01"));
    EXPECT_EQ(world.panel.lastText3(3), "");
    EXPECT_EQ(world.download.ChannelInUse(1), true);
    EXPECT_EQ(world.download.ChannelInUse(2), true);
    EXPECT_EQ(world.download.ChannelInUse(3), true);
    EXPECT_EQ(world.download.ChannelInUse(4), false);
    EXPECT_EQ(world.grid.TextMatrix(1, 4), "Not Used ");
    EXPECT_EQ(world.grid.TextMatrix(1, 5), "");
}

TEST(DownloadLog, HeadingStandsOverItsOwnChannelAcrossAGap) {
    std::array<QString, 8> names = MeterLog::defaultChannelNames();
    names[1] = "Not Used";
    MeterLog::Generation how;
    how.records = 6;
    LoggerWorld world(MeterLog::generated(how, names));
    EXPECT_EQ(world.download.run(), DownloadLog::Completed);
    EXPECT_EQ(world.grid.TextMatrix(1, 2), "Flow Rate");
    EXPECT_EQ(world.grid.TextMatrix(1, 3), "");
    EXPECT_EQ(world.grid.TextMatrix(1, 4), "Pressure");
    EXPECT_EQ(world.grid.TextMatrix(2, 3), "");
    EXPECT_NE(world.grid.TextMatrix(2, 4), "");
    EXPECT_EQ(world.download.ChannelInUse(2), false);
}

TEST(DownloadLog, FailedChannelReadKeepsTheEarlierFlagAndLeavesTheNameEmpty) {
    LoggerWorld world(generatedLog(4));
    ASSERT_EQ(world.download.run(), DownloadLog::Completed);
    ASSERT_EQ(world.download.ChannelInUse(2), true);

    world.intercept = [](const QByteArray& frame) -> std::optional<std::vector<MeterReply>> {
        if (frame.size() == 9 && quint8(frame[2]) == 24 && quint8(frame[3]) == 0x82)
            return std::vector<MeterReply>{};
        return std::nullopt;
    };
    world.grid.Clear();
    EXPECT_EQ(world.download.run(), DownloadLog::Completed);
    EXPECT_EQ(world.download.ChannelInUse(2), true);
    EXPECT_EQ(world.panel.lastText3(1), "");
    EXPECT_EQ(world.grid.TextMatrix(1, 3), "");
    EXPECT_EQ(world.grid.TextMatrix(1, 4), "Pressure");
}

TEST(DownloadLog, ChannelNameMissedOnceIsReadAgainAndItsColumnKept) {
    LoggerWorld world(generatedLog(4));
    int attempts = 0;
    world.intercept = [&](const QByteArray& frame) -> std::optional<std::vector<MeterReply>> {
        if (frame.size() == 9 && quint8(frame[2]) == 24 && quint8(frame[3]) == 0x82 &&
            ++attempts == 1)
            return std::vector<MeterReply>{};
        return std::nullopt;
    };
    EXPECT_EQ(world.download.run(), DownloadLog::Completed);
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(world.download.ChannelInUse(2), true);
    EXPECT_EQ(world.grid.TextMatrix(1, 3), "Totaliser");
}

TEST(DownloadLog, BlockFailingThreeTimesEndsWithTwoAndKeepsEarlierRows) {
    LoggerWorld world(generatedLog(400)); // 3200 bytes: blocks at 0, 1024, 2048, 3072
    int attempts = 0;
    world.intercept = [&](const QByteArray& frame) -> std::optional<std::vector<MeterReply>> {
        if (!isBlockRequest(frame, 8, 0x88))
            return std::nullopt;
        ++attempts;
        return std::vector<MeterReply>{};
    };
    EXPECT_EQ(world.download.run(), DownloadLog::Failed);
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(world.blockRequests().size(), 2u + 3u);
    EXPECT_EQ(world.download.LastGridRow(), 1 + 1024 / 32 * 2);
    EXPECT_NE(world.grid.TextMatrix(world.download.LastGridRow(), 2), "");
    EXPECT_TRUE(world.grid.Redraw());
    EXPECT_FLOAT_EQ(world.panel.progress.back(), float(2048.0 / 3200.0 * 100.0));
    EXPECT_TRUE(world.download.failureReason().contains("2048"))
        << world.download.failureReason().toStdString();
}

TEST(DownloadLog, BlockThatSucceedsOnTheThirdAttemptCounts) {
    LoggerWorld world(generatedLog(400));
    int attempts = 0;
    world.intercept = [&](const QByteArray& frame) -> std::optional<std::vector<MeterReply>> {
        if (isBlockRequest(frame, 8, 0x84) && ++attempts < 3)
            return std::vector<MeterReply>{};
        return std::nullopt;
    };
    EXPECT_EQ(world.download.run(), DownloadLog::Completed);
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(world.download.LastGridRow(), 1 + 100);
}

TEST(DownloadLog, UnreadStateStillBuildsTheHeaderThenFails) {
    LoggerWorld world(generatedLog(8));
    world.panel.text3[9] << "old";
    world.intercept = [](const QByteArray& frame) -> std::optional<std::vector<MeterReply>> {
        if (quint8(frame[1]) == 3)
            return std::vector<MeterReply>{};
        return std::nullopt;
    };
    EXPECT_EQ(world.download.run(), DownloadLog::Failed);
    EXPECT_EQ(world.panel.lastText3(9), "old");
    EXPECT_EQ(world.panel.text3.count(8), 0u);
    EXPECT_EQ(world.grid.TextMatrix(1, 2), "Flow Rate");
    const auto requests = world.blockRequests();
    ASSERT_GE(requests.size(), 1u);
    EXPECT_EQ(requests[0].length, 0);
    EXPECT_EQ(world.download.LastGridRow(), 1);
    EXPECT_TRUE(world.grid.Redraw());
    EXPECT_FALSE(world.download.failureReason().isEmpty());
}

TEST(DownloadLog, LastRecordBeforeTheStartFails) {
    MeterLog log = generatedLog(8);
    log.setPointers(800, 0);
    LoggerWorld world(log);
    EXPECT_EQ(world.download.run(), DownloadLog::Failed);
    EXPECT_EQ(world.panel.text3.count(9), 0u);
    EXPECT_EQ(world.download.LastGridRow(), 1);
    EXPECT_TRUE(world.download.failureReason().contains("before"));
}

TEST(DownloadLog, ShortStateBlockFails) {
    LoggerWorld world(generatedLog(8));
    world.intercept = [](const QByteArray& frame) -> std::optional<std::vector<MeterReply>> {
        if (quint8(frame[1]) != 3)
            return std::nullopt;
        // Fourteen data bytes with a good CRC, and two stray bytes so the wait is satisfied.
        const QByteArray answer = withCrc(QByteArray::fromHex("01030E") + QByteArray(14, '\0'));
        return std::vector<MeterReply>{{answer + QByteArray::fromHex("0000"), 0.0}};
    };
    EXPECT_EQ(world.download.run(), DownloadLog::Failed);
    EXPECT_TRUE(world.download.failureReason().contains("14"));
    EXPECT_EQ(world.panel.text3.count(9), 0u);
}

TEST(DownloadLog, LogBeyondTheLastBankSendsNoBlockRequest) {
    MeterLog log = generatedLog(8);
    log.setPointers(0, qint64(248) * 16384); // the last block would lie in bank 256
    LoggerWorld world(log);
    EXPECT_EQ(world.download.run(), DownloadLog::Failed);
    EXPECT_TRUE(world.blockRequests().empty());
    EXPECT_TRUE(world.grid.Redraw());
    EXPECT_FALSE(world.download.failureReason().isEmpty());
}

TEST(DownloadLog, YieldsAfterTheStateEachChannelAndTheWidths) {
    LoggerWorld world(generatedLog(8));
    int ownYields = 0;
    world.pump.setHook([&] {
        if (!world.link.busy())
            ++ownYields;
    });
    EXPECT_EQ(world.download.run(), DownloadLog::Completed);
    EXPECT_EQ(ownYields, 1 + 8 + 1);
}

TEST(DownloadLog, StripHighCharsKeepsEverythingBelow254) {
    EXPECT_EQ(LogReader::StripHighChars(QByteArray::fromHex("41FE00FD FF42")),
              QByteArray::fromHex("4100FD42"));
    EXPECT_EQ(LogReader::StripHighChars(QByteArray()), QByteArray());
}

} // namespace
} // namespace meterlink
