#include "chart/csv_series.h"
#include "chart/decimation.h"
#include "chart/grid_series.h"
#include "chart/image_series.h"
#include "logger/grid_model.h"
#include "logger/log_image.h"
#include "logger/record_decoder.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace meterlink {
namespace {

double msecs(int year, int month, int day, int hour, int minute) {
    return double(QDateTime(QDate(year, month, day), QTime(hour, minute)).toMSecsSinceEpoch());
}

std::vector<double> timesOf(const ChartData& data, std::size_t channel = 0) {
    return channel < data.channels.size() ? data.channels[channel].times : std::vector<double>();
}

// Moments across New Year, with a midnight (the date alone) and both sides of noon. The log
// has no year: the second 1 January is 2002 because the date went backwards.
struct Moment {
    QDate logDate;
    QTime time;
    double expected;
};
const std::vector<Moment> acrossNewYear = {
    {QDate(2001, 12, 30), QTime(21, 30), msecs(2001, 12, 30, 21, 30)},
    {QDate(2001, 12, 31), QTime(0, 0), msecs(2001, 12, 31, 0, 0)},
    {QDate(2001, 12, 31), QTime(11, 45), msecs(2001, 12, 31, 11, 45)},
    {QDate(2001, 1, 1), QTime(0, 30), msecs(2002, 1, 1, 0, 30)},
    {QDate(2001, 1, 1), QTime(12, 15), msecs(2002, 1, 1, 12, 15)},
};

// The grid holds what the download wrote in the PC's locale; the chart reads it back.
class TimestampsOfALocale : public ::testing::TestWithParam<const char*> {};

TEST_P(TimestampsOfALocale, GiveTheTimeAxisAsTheGridWroteThem) {
    const QLocale locale =
        QString::fromLatin1(GetParam()) == "C" ? QLocale::c() : QLocale(QLatin1String(GetParam()));
    GridModel grid;
    RecordDecoder decoder(grid, locale);
    grid.setTextMatrix(1, 2, QStringLiteral("Flow Rate"));
    grid.setTextMatrix(1, 3, QStringLiteral("Pressure"));
    qint32 row = 1;
    for (const Moment& moment : acrossNewYear) {
        ++row;
        grid.setTextMatrix(row, 1, decoder.timestampText(moment.logDate, moment.time));
        grid.setTextMatrix(row, 2, QStringLiteral(" 12.5"));
        // Channel 2 is out of use: channel 3's readings stand in column 4.
        grid.setTextMatrix(row, 4, QStringLiteral("-3"));
    }
    ChannelFlags inUse{};
    inUse[1] = inUse[3] = true;

    const ChartData data = seriesFromGrid(grid, row, inUse, locale);

    ASSERT_EQ(data.channels.size(), 2u);
    EXPECT_EQ(data.channels[0].name, "Flow Rate");
    EXPECT_EQ(data.channels[1].name, "Pressure");
    EXPECT_EQ(data.channels[1].values, std::vector<double>(acrossNewYear.size(), -3));
    std::vector<double> expected;
    for (const Moment& moment : acrossNewYear)
        expected.push_back(moment.expected);
    EXPECT_EQ(timesOf(data), expected) << grid.TextMatrix(5, 1).toStdString();
    EXPECT_EQ(data.leftOut.undatedRows, 0);
    EXPECT_EQ(data.leftOut.yearsAdvanced, 1);
}

INSTANTIATE_TEST_SUITE_P(Locales, TimestampsOfALocale,
                         ::testing::Values("C", "en_US", "de_DE", "ko_KR", "ar_EG"));

// A file written on another PC: its form is found from its own lines, whatever this PC's
// locale is.
struct ForeignFile {
    const char* name;
    const char* pcLocale;
    const char* lines; // three rows: 12 Jan 21:30, 13 Jan 00:00, 13 Jan 09:05 of 2001
};
void PrintTo(const ForeignFile& file, std::ostream* out) {
    *out << file.name;
}

class TimestampsFromAnotherPc : public ::testing::TestWithParam<ForeignFile> {};

TEST_P(TimestampsFromAnotherPc, AreReadInTheFormTheFileUses) {
    const QByteArray bytes = QByteArray("Date / Time,Flow\r\n") + GetParam().lines;
    const CsvSeries read = csvSeriesFromBytes(bytes, QStringLiteral("log.csv"),
                                              QLocale(QLatin1String(GetParam().pcLocale)));
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    EXPECT_EQ(timesOf(read.data),
              (std::vector<double>{msecs(2001, 1, 12, 21, 30), msecs(2001, 1, 13, 0, 0),
                                   msecs(2001, 1, 13, 9, 5)}));
    EXPECT_EQ(read.data.leftOut.undatedRows, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, TimestampsFromAnotherPc,
    ::testing::Values(
        ForeignFile{"IsoOnAGermanPc", "de_DE",
                    "2001-01-12 21:30:00,1\r\n2001-01-13T00:00:00,2\r\n"
                    "2001-01-13 09:05,3\r\n"},
        ForeignFile{"MonthFirstOnAGermanPc", "de_DE",
                    "1/12/2001 9:30:00 PM,1\r\n1/13/2001,2\r\n1/13/2001 9:05:00 AM,3\r\n"},
        ForeignFile{"DayFirstOnAUsPc", "en_US",
                    "12/01/2001 21:30:00,1\r\n13/01/2001,2\r\n13/01/2001 09:05:00,3\r\n"},
        ForeignFile{"DayFirstDotsOnAUsPc", "en_US",
                    "12.01.2001 21:30:00,1\r\n13.01.2001,2\r\n13.01.2001 09:05:00,3\r\n"},
        ForeignFile{"CLocaleOnABritishPc", "en_GB",
                    "12 Jan 2001 21:30:00,1\r\n13 Jan 2001,2\r\n13 Jan 2001 09:05:00,3\r\n"}),
    [](const ::testing::TestParamInfo<ForeignFile>& info) { return std::string(info.param.name); });

// A file in the semicolon form: fields split at ";", readings with a decimal comma, a
// name holding ";" in quotes.
TEST(ChartCsv, SemicolonFileIsReadWithItsDecimalCommas) {
    const CsvSeries read =
        csvSeriesFromBytes("Date / Time;\"Flow; total\";Rate, m3/h\r\n"
                           "2001-01-12 21:30:00; 12,5;-0,25\r\n2001-01-13 00:00:00; 3;1E+37\r\n",
                           QStringLiteral("log.csv"), QLocale(QLatin1String("en_US")));
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    ASSERT_EQ(read.data.channels.size(), 2u);
    EXPECT_EQ(read.data.channels[0].name, QString("Flow; total"));
    EXPECT_EQ(read.data.channels[1].name, QString("Rate, m3/h"));
    EXPECT_EQ(read.data.channels[0].values, (std::vector<double>{12.5, 3}));
    EXPECT_EQ(read.data.channels[1].values, (std::vector<double>{-0.25}));
    EXPECT_EQ(timesOf(read.data).size(), 2u);
}

// A log of 30-minute rows from 1 May, written on a PC of one locale and opened on one of
// another. Its first days read both ways round: the whole file decides, and when every day
// is 12 or less, the steady steps do and the note says so.
struct DayAndMonth {
    const char* name;
    const char* writtenIn;
    const char* openedIn;
    int days;
    const char* note;
};
void PrintTo(const DayAndMonth& file, std::ostream* out) {
    *out << file.name;
}

class DateOrderOfAFile : public ::testing::TestWithParam<DayAndMonth> {};

TEST_P(DateOrderOfAFile, IsTheOneThatReadsEveryRowAtASteadyStep) {
    const DayAndMonth& file = GetParam();
    GridModel grid;
    RecordDecoder decoder(grid, QLocale(QLatin1String(file.writtenIn)));
    QByteArray bytes("Date / Time,Flow\r\n");
    const int rows = file.days * 48;
    for (int i = 0; i < rows; ++i) {
        const QString stamp = decoder.timestampText(QDate(2001, 5, 1).addDays(i / 48),
                                                    QTime(0, 0).addSecs(i % 48 * 1800));
        bytes += stamp.toUtf8() + ", 1\r\n";
    }
    const CsvSeries read =
        csvSeriesFromBytes(bytes, QStringLiteral("log.csv"), QLocale(QLatin1String(file.openedIn)));
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    EXPECT_EQ(read.data.rows, rows);
    EXPECT_EQ(read.data.leftOut.undatedRows, 0);
    const std::vector<double> times = timesOf(read.data);
    ASSERT_EQ(times.size(), std::size_t(rows));
    EXPECT_EQ(times.front(), msecs(2001, 5, 1, 0, 0));
    EXPECT_EQ(times.back(), msecs(2001, 5, file.days, 23, 30));
    EXPECT_EQ(read.data.dateOrder.toStdString(), file.note);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DateOrderOfAFile,
    ::testing::Values(
        DayAndMonth{"GermanLogOnAUsPc", "de_DE", "en_US", 20, ""},
        DayAndMonth{"UsLogOnAGermanPc", "en_US", "de_DE", 20, ""},
        DayAndMonth{"ShortGermanLogOnAUsPc", "de_DE", "en_US", 10,
                    "Dates read day first (the first is 1 May 2001): month first fits them "
                    "too, but its time steps are not steady."},
        DayAndMonth{"ShortUsLogOnAGermanPc", "en_US", "de_DE", 10,
                    "Dates read month first (the first is 1 May 2001): day first fits them "
                    "too, but its time steps are not steady."}),
    [](const ::testing::TestParamInfo<DayAndMonth>& info) { return std::string(info.param.name); });

TEST(ChartSeries, NoRecordForMoreThanThreeStepsBreaksTheLine) {
    // Ten-minute steps; 25 minutes without a record is still one line, 35 minutes is a gap.
    const CsvSeries read = csvSeriesFromBytes("2001-03-01 10:00,1\n2001-03-01 10:10,1\n"
                                              "2001-03-01 10:20,1\n2001-03-01 10:45,1\n"
                                              "2001-03-01 10:55,1\n2001-03-01 11:30,1\n"
                                              "2001-03-01 11:40,1\n",
                                              QStringLiteral("log.csv"), QLocale::c());
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    ASSERT_EQ(read.data.channels.size(), 1u);
    EXPECT_EQ(read.data.channels[0].name, "Channel 1");
    EXPECT_EQ(read.data.channels[0].segmentStarts, (std::vector<std::size_t>{0, 5}));
}

TEST(ChartDecimation, KeepsAOneSampleSpikeAndDipWhileThinningToThePixels) {
    const std::size_t count = 100000;
    std::vector<double> times(count), values(count, 1.0);
    for (std::size_t i = 0; i < count; ++i)
        times[i] = double(i) * 1000;
    values[54321] = 50;
    values[77777] = -7;
    const int columns = 200;

    const std::vector<QPointF> points =
        decimateMinMax(times.data(), values.data(), count, times[1000], times[90000], columns);

    EXPECT_LE(points.size(), std::size_t(columns) * 2 + 2);
    EXPECT_NE(std::find(points.begin(), points.end(), QPointF(times[54321], 50)), points.end());
    EXPECT_NE(std::find(points.begin(), points.end(), QPointF(times[77777], -7)), points.end());
    // One point either side of the span, and time order kept.
    EXPECT_EQ(points.front().x(), times[999]);
    EXPECT_EQ(points.back().x(), times[90001]);
    EXPECT_TRUE(std::is_sorted(points.begin(), points.end(),
                               [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); }));
}

TEST(ChartCsv, OpenedFileWithBadLinesKeepsTheGoodOnesAndCountsTheRest) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xEF\xBB\xBF"
               "Date / Time,\"Flow, total\",\"Temp \"\"A\"\"\"\r\n"
               "2001-05-17 09:30:00, 12.5, 20\r\n"
               "2001-05-17 09:40:00, 1E+37,-1E+37\r\n"        // the meter's limit values
               "2001-05-17 09:50:00,n/a, 21\r\n"              // a text reading
               "09:55:00, 13, 22\r\n"                         // the time alone
               "garbage\r\n"                                  // no timestamp, no fields
               "2001-05-17 10:00:00, 14, 23, 99\r\n"          // an extra field
               "2001-05-17 10:10:00, 15\r\n"                  // a missing field
               "2001-05-17 10:10:00,\"-1E-37\",\" 24\"\r\n"); // repeated time, quoted numbers
    file.close();

    const CsvSeries read = readCsvSeries(path, QLocale::c());

    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    ASSERT_EQ(read.data.channels.size(), 2u);
    EXPECT_EQ(read.data.channels[0].name, "Flow, total");
    EXPECT_EQ(read.data.channels[1].name, "Temp \"A\"");
    EXPECT_EQ(read.data.channels[0].values, (std::vector<double>{12.5, 14, 15, -1E-37}));
    EXPECT_EQ(read.data.channels[1].values, (std::vector<double>{20, 21, 23, 24}));
    const LeftOut& out = read.data.leftOut;
    EXPECT_EQ(out.limitValues, 2);
    EXPECT_EQ(out.notNumbers, 1);
    EXPECT_EQ(out.undatedRows, 2);
    EXPECT_EQ(out.extraFieldRows, 1);
    EXPECT_EQ(out.shortRows, 2);
    EXPECT_EQ(out.repeatedTimes, 1);
    EXPECT_EQ(read.data.rows, 6);
    EXPECT_FALSE(out.text().isEmpty());
}

TEST(ChartImage, OpensAsTheReadingsOfItsLog) {
    LogImage image;
    image.readAt = QDateTime(QDate(2026, 1, 3), QTime(8, 0), Qt::UTC);
    image.stateBlock = QByteArray::fromHex("00000000000000083f800000447a0000");
    QByteArray config(100, '\xFF');
    config.replace(64, 4, "Flow");
    image.channels[0] = config;
    image.logBlocks[0] = QByteArray::fromHex("1517093041480000"
                                             "1517094542c80000");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("site.mlimg"));
    QString why;
    ASSERT_TRUE(writeLogImage(path, image, &why)) << why.toStdString();

    const CsvSeries read = readChartFile(path, QLocale(QLatin1String("en_US")));

    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    ASSERT_EQ(read.data.channels.size(), 1u);
    EXPECT_EQ(read.data.channels[0].name, "Flow");
    EXPECT_EQ(timesOf(read.data),
              (std::vector<double>{msecs(2025, 5, 17, 9, 30), msecs(2025, 5, 17, 9, 45)}));
    EXPECT_EQ(read.data.channels[0].values, (std::vector<double>{12.5, 100}));
}

struct RefusedFile {
    const char* name;
    const char* what;
    QByteArray bytes;
    qint64 maxBytes;
};

void PrintTo(const RefusedFile& file, std::ostream* out) {
    *out << file.name;
}

class ChartCsvRefused : public ::testing::TestWithParam<RefusedFile> {};

TEST_P(ChartCsvRefused, WithAReasonThatNamesTheFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("odd.csv"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(GetParam().bytes);
    file.close();

    const CsvSeries read = readChartFile(path, QLocale::c(), nullptr, GetParam().maxBytes);

    EXPECT_TRUE(read.data.empty());
    EXPECT_TRUE(read.error.contains(QLatin1String("odd.csv"))) << read.error.toStdString();
    EXPECT_TRUE(read.error.contains(QLatin1String(GetParam().what))) << read.error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, ChartCsvRefused,
    ::testing::Values(RefusedFile{"Empty", "empty", QByteArray(), maxChartFileBytes},
                      RefusedFile{"Binary", "not a text file", QByteArray("PK\x03\x04\0\0\x14", 7),
                                  maxChartFileBytes},
                      RefusedFile{"NotALog", "no line starts with a date", "name,age\r\nAda,36\r\n",
                                  maxChartFileBytes},
                      RefusedFile{"NoReadings", "no channel readings",
                                  "Date / Time\r\n2001-05-17 09:30\r\n", maxChartFileBytes},
                      RefusedFile{"TooBig", "files of up to", QByteArray(4096, 'x'), 1024},
                      RefusedFile{"ImageCutShort", "cut short", "MLLOGIMG", maxChartFileBytes}),
    [](const ::testing::TestParamInfo<RefusedFile>& info) { return std::string(info.param.name); });

} // namespace
} // namespace meterlink
