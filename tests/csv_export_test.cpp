#include "logger/csv_export.h"
#include "logger/grid_model.h"
#include "logger/record_decoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace meterlink {
namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class CsvExporting : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("Logdata.csv");
        grid.setTextMatrix(1, 0, "Record #");
        grid.setTextMatrix(1, 1, "Date / Time");
    }
    void heading(int channel, const QString& name) {
        grid.setTextMatrix(1, channel + 1, name);
        flags[size_t(channel)] = true;
    }
    void record(int row, const QString& when, int channel, const QString& reading) {
        grid.setTextMatrix(row, 0, QString::number(row - 1));
        grid.setTextMatrix(row, 1, when);
        grid.setTextMatrix(row, channel + 1, reading);
    }

    QTemporaryDir dir;
    QString path;
    GridModel grid;
    ChannelFlags flags{};
    CsvExport csv;
};

TEST_F(CsvExporting, WritesTimestampAndChannelsInUseWithCrLf) {
    heading(1, "Flow");
    heading(2, "Total");
    record(2, "5/17/2001 9:30:00 AM", 1, " 12.5");
    record(2, "5/17/2001 9:30:00 AM", 2, "-1E-37");
    record(3, "5/17/2001 9:40:00 AM", 1, " 10");
    EXPECT_EQ(csv.ExportCsv(grid, 3, flags, path), true);
    EXPECT_EQ(readAll(path), "Date / Time,Flow,Total\r\n"
                             "5/17/2001 9:30:00 AM, 12.5,-1E-37\r\n"
                             "5/17/2001 9:40:00 AM, 10,\r\n");
    EXPECT_TRUE(csv.failureReason().isEmpty());
}

TEST_F(CsvExporting, WithoutRecordsWritesTheHeaderLineOnly) {
    heading(1, "Flow");
    EXPECT_EQ(csv.ExportCsv(grid, 1, flags, path), true);
    EXPECT_EQ(readAll(path), "Date / Time,Flow\r\n");
}

TEST_F(CsvExporting, WithoutChannelsInUseWritesTheTimestampAlone) {
    record(2, "5/17/2001", 1, " 1");
    EXPECT_EQ(csv.ExportCsv(grid, 2, flags, path), true);
    EXPECT_EQ(readAll(path), "Date / Time\r\n5/17/2001\r\n");
}

TEST_F(CsvExporting, TakesEachChannelsOwnColumnAcrossAGap) {
    heading(1, "Flow");
    heading(3, "Level");
    record(2, "t", 1, " 1");
    record(2, "t", 2, " 2");
    record(2, "t", 3, " 3");
    EXPECT_EQ(csv.ExportCsv(grid, 2, flags, path), true);
    EXPECT_EQ(readAll(path), "Date / Time,Flow,Level\r\nt, 1, 3\r\n");
}

TEST_F(CsvExporting, QuotesFieldsThatHoldCommasQuotesOrLineEndsAndWritesNamesAsUtf8) {
    heading(1, "Flow, total");
    heading(2, "Say \"hi\"");
    heading(3, "two\r\nlines");
    heading(4, "cr\ronly");
    heading(5, QString::fromLatin1("m\xB3/h")); // the meter's 8-bit name as it arrives
    record(2, "5/17/2001", 1, " 1");
    EXPECT_EQ(csv.ExportCsv(grid, 2, flags, path), true);
    EXPECT_EQ(readAll(path), "Date / Time,\"Flow, total\",\"Say \"\"hi\"\"\",\"two\r\nlines\","
                             "\"cr\ronly\",m\xC2\xB3/h\r\n"
                             "5/17/2001, 1,,,,\r\n");
}

// The semicolon form: ";" between fields, "," in readings only (a German date keeps its
// dots), and quotes for what holds ";" instead of ",".
TEST_F(CsvExporting, SemicolonFormPutsDecimalCommasInReadingsAndQuotesSemicolons) {
    heading(1, "Flow; total");
    heading(2, "Rate, m3/h");
    record(2, "17.05.2001 09:30:00", 1, " 12.5");
    record(2, "17.05.2001 09:30:00", 2, "-1E-37");
    csv.setDialect(CsvDialect::Semicolon);
    EXPECT_EQ(csv.ExportCsv(grid, 2, flags, path), true);
    EXPECT_EQ(readAll(path), "Date / Time;\"Flow; total\";Rate, m3/h\r\n"
                             "17.05.2001 09:30:00; 12,5;-1E-37\r\n");
}

// Timestamps in locales whose texts lie beyond Latin-1: Greek and Korean day halves, Arabic
// digits. Each must reach the file whole, and 09:30 must stay apart from 21:30.
class CsvTimestamps : public CsvExporting, public ::testing::WithParamInterface<const char*> {};

TEST_P(CsvTimestamps, KeepEveryCharacterOfTheLocalesText) {
    RecordDecoder decoder(grid, QLocale(QString::fromLatin1(GetParam())));
    qint32 lastRow = 1;
    decoder.DecodeRecord(QByteArray::fromHex("1517093041480000"
                                             "1517213041480000"),
                         lastRow);
    ASSERT_EQ(lastRow, 3);
    const QString morning = grid.TextMatrix(2, 1);
    const QString evening = grid.TextMatrix(3, 1);
    ASSERT_NE(morning, evening);

    EXPECT_EQ(csv.ExportCsv(grid, lastRow, flags, path), true);
    EXPECT_EQ(QString::fromUtf8(readAll(path)),
              "Date / Time\r\n" + morning + "\r\n" + evening + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Locales, CsvTimestamps, ::testing::Values("el_GR", "ko_KR", "ar_EG"));

std::optional<QByteArray> latin1CodePage(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() > 0xFF)
            return std::nullopt;
    return text.toLatin1();
}

TEST(CsvFileBytes, CodePageWhenItHoldsTheTextElseUtf8) {
    struct Case {
        QString text;
        bool withCodePage;
        QByteArray bytes;
    } const cases[] = {
        {"Flow,9:30 AM\r\n", false, "Flow,9:30 AM\r\n"},
        {"Flow,9:30 AM\r\n", true, "Flow,9:30 AM\r\n"},
        {QString::fromLatin1("m\xB3/h"), false, "m\xC2\xB3/h"},
        {QString::fromLatin1("m\xB3/h"), true, "m\xB3/h"},
        {QString::fromUtf8("9:30 \xCF\x80.\xCE\xBC."), false, "9:30 \xCF\x80.\xCE\xBC."},
        {QString::fromUtf8("9:30 \xCF\x80.\xCE\xBC."), true,
         "\xEF\xBB\xBF"
         "9:30 \xCF\x80.\xCE\xBC."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.toStdString());
        EXPECT_EQ(csvFileBytes(c.text, c.withCodePage ? CodePage(latin1CodePage) : CodePage()),
                  c.bytes);
    }
}

TEST_F(CsvExporting, SecondExportReplacesTheFirstCompletely) {
    heading(1, "Flow");
    for (int row = 2; row < 50; ++row)
        record(row, "t", 1, " 1");
    ASSERT_EQ(csv.ExportCsv(grid, 49, flags, path), true);
    ASSERT_EQ(csv.ExportCsv(grid, 2, flags, path), true);
    EXPECT_EQ(readAll(path), "Date / Time,Flow\r\nt, 1\r\n");
}

TEST_F(CsvExporting, MissingFolderFailsWithThePathInTheReason) {
    const QString missing = dir.filePath("no/such/folder/Logdata.csv");
    EXPECT_EQ(csv.ExportCsv(grid, 1, flags, missing), false);
    EXPECT_TRUE(csv.failureReason().contains(QDir::toNativeSeparators(missing)))
        << csv.failureReason().toStdString();
    EXPECT_FALSE(QFile::exists(missing));
}

TEST_F(CsvExporting, FailedWriteLeavesThePreviousFileByteForByte) {
    const QByteArray previous = "Date / Time,Flow\r\nold, 1\r\n";
    writeFile(path, previous);
    heading(1, "Flow");
    for (int row = 2; row < 3000; ++row)
        record(row, "5/17/2001 9:30:00 AM", 1, " 12.5");

    // A file size limit makes the write fail even for a user the permissions do not stop.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool result = csv.ExportCsv(grid, 2999, flags, path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(readAll(path), previous);
    EXPECT_FALSE(csv.failureReason().isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Logdata.csv"});
}

TEST_F(CsvExporting, TargetThatIsAFolderFailsAndStays) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("Logdata.csv"));
    EXPECT_EQ(csv.ExportCsv(grid, 1, flags, path), false);
    EXPECT_TRUE(QFileInfo(path).isDir());
}

} // namespace
} // namespace meterlink
