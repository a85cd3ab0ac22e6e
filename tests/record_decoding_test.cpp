#include "logger/grid_model.h"
#include "logger/record_decoder.h"

#include <QByteArray>
#include <QLocale>
#include <gtest/gtest.h>

namespace meterlink {
namespace {

const QLocale unitedStates(QLocale::English, QLocale::UnitedStates);

// Channel 1, 17 May 2001 09:30, 12.5 and the same moment on channel 2 with 100.
const char* const may17Ch1 = "1517093041480000";
const char* const may17Ch2 = "2517093042C80000";

class RecordDecoding : public ::testing::Test {
protected:
    void decode(const char* hex) { decoder.DecodeRecord(QByteArray::fromHex(hex), row); }
    QString cell(int r, int c) const { return grid.TextMatrix(r, c); }

    GridModel grid;
    RecordDecoder decoder{grid, unitedStates};
    qint32 row = 1;
};

TEST_F(RecordDecoding, PutsAReadingInItsChannelColumnWithTimestampAndNumber) {
    decode("2517093041480000");
    EXPECT_EQ(row, 2);
    EXPECT_EQ(cell(2, 0), "1");
    EXPECT_EQ(cell(2, 1), "5/17/2001 9:30:00 AM");
    EXPECT_EQ(cell(2, 3), " 12.5");
    EXPECT_EQ(cell(2, 2), "");
    EXPECT_EQ(cell(1, 1), "");
}

TEST_F(RecordDecoding, GroupsEqualMomentsOfOneBlockIntoOneRow) {
    decode(QByteArray(may17Ch1).append(may17Ch2).append("1517094041200000").constData());
    EXPECT_EQ(row, 3);
    EXPECT_EQ(cell(2, 2), " 12.5");
    EXPECT_EQ(cell(2, 3), " 100");
    EXPECT_EQ(cell(3, 0), "2");
    EXPECT_EQ(cell(3, 1), "5/17/2001 9:40:00 AM");
    EXPECT_EQ(cell(3, 2), " 10");
}

TEST_F(RecordDecoding, SplitsEqualMomentsAtABlockBoundary) {
    decode(may17Ch1);
    decode(may17Ch2);
    EXPECT_EQ(row, 3);
    EXPECT_EQ(cell(2, 2), " 12.5");
    EXPECT_EQ(cell(2, 3), "");
    EXPECT_EQ(cell(3, 3), " 100");
    EXPECT_EQ(cell(3, 1), cell(2, 1));
}

TEST_F(RecordDecoding, EmptyBlockWritesNothing) {
    decode("");
    EXPECT_EQ(row, 1);
    EXPECT_EQ(cell(2, 0), "");
}

TEST_F(RecordDecoding, DropsATrailingPartialRecord) {
    decode("151709304148000026170930");
    EXPECT_EQ(row, 2);
    EXPECT_EQ(cell(3, 0), "");
    EXPECT_EQ(cell(2, 3), "");
}

TEST_F(RecordDecoding, MidnightShowsTheDateAlone) {
    decode("1517000041480000");
    EXPECT_EQ(cell(2, 1), "5/17/2001");
}

TEST_F(RecordDecoding, FieldThatDoesNotConvertKeepsThePreviousRecordsValue) {
    // Each second record has one bad field and otherwise the first record's moment, so it
    // joins the first record's row.
    const struct {
        const char* second;
        const char* why;
    } cases[] = {
        {"2D17093042C80000", "month 13"},       {"2017093042C80000", "month 0"},
        {"2532093042C80000", "day 32"},         {"2500093042C80000", "day 0"},
        {"251A093042C80000", "day not BCD"},    {"2517243042C80000", "hour 24"},
        {"25170A3042C80000", "hour not BCD"},   {"2517096042C80000", "minute 60"},
        {"2517093F42C80000", "minute not BCD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        GridModel g;
        RecordDecoder d(g, unitedStates);
        qint32 r = 1;
        d.DecodeRecord(QByteArray::fromHex(QByteArray(may17Ch1).append(c.second)), r);
        EXPECT_EQ(r, 2);
        EXPECT_EQ(g.TextMatrix(2, 1), "5/17/2001 9:30:00 AM");
        EXPECT_EQ(g.TextMatrix(2, 3), " 100");
    }
}

TEST_F(RecordDecoding, RejectsDaysTheMonthDoesNotHave) {
    // 30 February and 29 February 2001 do not exist; 31 April neither.
    decode("1230093041480000");
    decode("1229093041480000");
    decode("1431093041480000");
    decode("1228093041480000");
    EXPECT_EQ(row, 5);
    EXPECT_EQ(cell(2, 1), "9:30:00 AM");
    EXPECT_EQ(cell(3, 1), "9:30:00 AM");
    EXPECT_EQ(cell(4, 1), "9:30:00 AM");
    EXPECT_EQ(cell(5, 1), "2/28/2001 9:30:00 AM");
}

TEST_F(RecordDecoding, FirstRecordWithoutDateShowsTheTimeAlone) {
    decode("1D17093041480000");
    EXPECT_EQ(row, 2);
    EXPECT_EQ(cell(2, 1), "9:30:00 AM");
}

TEST_F(RecordDecoding, RecordWithoutAMomentNeverWritesOverTheHeaderRow) {
    grid.setTextMatrix(1, 1, "Date / Time");
    decode("1D1AFFFF41480000");
    EXPECT_EQ(row, 2);
    EXPECT_EQ(cell(1, 1), "Date / Time");
    EXPECT_EQ(cell(1, 0), "");
    EXPECT_EQ(cell(2, 0), "1");
    EXPECT_EQ(cell(2, 2), " 12.5");
}

TEST_F(RecordDecoding, RecordWithoutAMomentJoinsTheCurrentRowAfterRecords) {
    decode(may17Ch1);
    decode("2D1AFFFF42C80000");
    decode("FFFFFFFFFFFFFFFF"); // erased memory
    EXPECT_EQ(row, 2);
    EXPECT_EQ(cell(2, 1), "5/17/2001 9:30:00 AM");
    EXPECT_EQ(cell(2, 2), " 12.5");
    EXPECT_EQ(cell(2, 3), " 100");
    EXPECT_EQ(cell(3, 0), "");
}

TEST_F(RecordDecoding, ChannelsOutsideOneToEightWriteNoReading) {
    decode("0517093041480000");
    EXPECT_EQ(cell(2, 1), "5/17/2001 9:30:00 AM");
    decode("9517094041480000F517094041480000");
    EXPECT_EQ(row, 3);
    for (int column = 2; column < GridModel::columns; ++column)
        EXPECT_EQ(cell(3, column), "") << column;
    EXPECT_EQ(cell(3, 0), "2");
}

TEST_F(RecordDecoding, ChannelEightGoesToTheLastColumn) {
    decode("8517093041480000");
    EXPECT_EQ(cell(2, 9), " 12.5");
}

TEST_F(RecordDecoding, GridGrowsSoNoRecordBeyondTheInitialRowsIsLost) {
    row = GridModel::initialRows - 2;
    decode("151709304148000015170931414800001517093241480000");
    EXPECT_EQ(row, GridModel::initialRows + 1);
    EXPECT_GE(grid.Rows(), GridModel::initialRows + 2);
    EXPECT_EQ(cell(GridModel::initialRows + 1, 0), QString::number(GridModel::initialRows));
    EXPECT_EQ(cell(GridModel::initialRows + 1, 1), "5/17/2001 9:32:00 AM");
}

TEST(RecordTimestamp, FollowsTheLocalesFormatsWithSeconds) {
    GridModel grid;
    RecordDecoder german(grid, QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(german.timestampText(QDate(2001, 5, 17), QTime(9, 30)), "17.05.2001 09:30:00");
    EXPECT_EQ(timeFormatWithSeconds(QLocale::c()), "HH:mm:ss");
    EXPECT_EQ(timeFormatWithSeconds(unitedStates), "h:mm:ss AP");
    EXPECT_EQ(dateFormatWithFullYear(unitedStates), "M/d/yyyy");
    EXPECT_EQ(dateFormatWithFullYear(QLocale::c()), "d MMM yyyy");
}

TEST(IsoYears, TheNewestRecordIsNotInTheFutureAndTheYearStepsAtEachTurnOfTheYear) {
    const QStringList log = {"2001-11-30 10:00:00", "2001-12-31 23:30:00", "09:00:00",
                             "2001-01-01 00:00:00", "2001-03-05 08:00:00"};
    const struct {
        const char* why;
        QDate before;
        QDateTime now;
        QStringList years;
    } cases[] = {
        {"newest later today", {}, {{2027, 3, 5}, {7, 0}}, {"2025", "2025", "", "2026", "2026"}},
        {"newest earlier today", {}, {{2027, 3, 5}, {9, 0}}, {"2026", "2026", "", "2027", "2027"}},
        // An append goes on from the file's last dated row, whatever the clock says.
        {"after a row of 2025",
         {2025, 10, 1},
         {{2040, 1, 1}, {0, 0}},
         {"2025", "2025", "", "2026", "2026"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        GridModel grid;
        for (int i = 0; i < log.size(); ++i)
            grid.setTextMatrix(i + 2, 1, log[i]);
        grid.setTextMatrix(1, 1, "Date / Time");
        setIsoYears(grid, 2, qint32(log.size() + 1), c.before, c.now);
        EXPECT_EQ(grid.TextMatrix(1, 1), "Date / Time");
        for (int i = 0; i < log.size(); ++i)
            EXPECT_EQ(grid.TextMatrix(i + 2, 1),
                      c.years[i].isEmpty() ? log[i] : c.years[i] + log[i].mid(4));
    }
}

TEST(BcdValue, ReadsHexDigitsAsDecimal) {
    EXPECT_EQ(bcdValue(0x07), 7);
    EXPECT_EQ(bcdValue(0x25), 25);
    EXPECT_EQ(bcdValue(0x99), 99);
    EXPECT_EQ(bcdValue(0x1A), -1);
    EXPECT_EQ(bcdValue(0xA1), -1);
}

} // namespace
} // namespace meterlink
