#include "logger/csv_export.h"
#include "logger/grid_model.h"

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
        flags[size_t(channel)] = -1;
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
    EXPECT_EQ(csv.ExportCsv(grid, 3, flags, path), -1);
    EXPECT_EQ(readAll(path), "Date / Time,Flow,Total\r\n"
                             "5/17/2001 9:30:00 AM, 12.5,-1E-37\r\n"
                             "5/17/2001 9:40:00 AM, 10,\r\n");
    EXPECT_TRUE(csv.failureReason().isEmpty());
}

TEST_F(CsvExporting, WithoutRecordsWritesTheHeaderLineOnly) {
    heading(1, "Flow");
    EXPECT_EQ(csv.ExportCsv(grid, 1, flags, path), -1);
    EXPECT_EQ(readAll(path), "Date / Time,Flow\r\n");
}

TEST_F(CsvExporting, WithoutChannelsInUseWritesTheTimestampAlone) {
    record(2, "5/17/2001", 1, " 1");
    EXPECT_EQ(csv.ExportCsv(grid, 2, flags, path), -1);
    EXPECT_EQ(readAll(path), "Date / Time\r\n5/17/2001\r\n");
}

TEST_F(CsvExporting, TakesEachChannelsOwnColumnAcrossAGap) {
    heading(1, "Flow");
    heading(3, "Level");
    record(2, "t", 1, " 1");
    record(2, "t", 2, " 2");
    record(2, "t", 3, " 3");
    EXPECT_EQ(csv.ExportCsv(grid, 2, flags, path), -1);
    EXPECT_EQ(readAll(path), "Date / Time,Flow,Level\r\nt, 1, 3\r\n");
}

TEST_F(CsvExporting, WritesNamesUnquotedAndBytesAsTheyAre) {
    heading(1, QString::fromLatin1("Flow, m\xB3/h"));
    EXPECT_EQ(csv.ExportCsv(grid, 1, flags, path), -1);
    EXPECT_EQ(readAll(path), "Date / Time,Flow, m\xB3/h\r\n");
}

TEST_F(CsvExporting, SecondExportReplacesTheFirstCompletely) {
    heading(1, "Flow");
    for (int row = 2; row < 50; ++row)
        record(row, "t", 1, " 1");
    ASSERT_EQ(csv.ExportCsv(grid, 49, flags, path), -1);
    ASSERT_EQ(csv.ExportCsv(grid, 2, flags, path), -1);
    EXPECT_EQ(readAll(path), "Date / Time,Flow\r\nt, 1\r\n");
}

TEST_F(CsvExporting, MissingFolderFailsWithThePathInTheReason) {
    const QString missing = dir.filePath("no/such/folder/Logdata.csv");
    EXPECT_EQ(csv.ExportCsv(grid, 1, flags, missing), 0);
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
    const qint16 result = csv.ExportCsv(grid, 2999, flags, path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(readAll(path), previous);
    EXPECT_FALSE(csv.failureReason().isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Logdata.csv"});
}

TEST_F(CsvExporting, TargetThatIsAFolderFailsAndStays) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("Logdata.csv"));
    EXPECT_EQ(csv.ExportCsv(grid, 1, flags, path), 0);
    EXPECT_TRUE(QFileInfo(path).isDir());
}

} // namespace
} // namespace meterlink
