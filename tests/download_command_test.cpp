#include "logger/download_command.h"
#include "logger_test_world.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

namespace meterlink {
namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

class DownloadCommanding : public ::testing::Test {
protected:
    explicit DownloadCommanding(MeterLog log = generatedLog(8)) : world(std::move(log)) {
        world.settings.SaveFileName = dir.filePath("Logdata.csv");
    }

    QTemporaryDir dir;
    LoggerWorld world;
    DownloadCommand command{world.link, world.settings, world.grid, world.download, world.panel};
};

TEST_F(DownloadCommanding, SuccessfulDownloadExportsAndReportsFinished) {
    EXPECT_EQ(command.run(), DownloadOutcome::Exported);
    EXPECT_EQ(world.panel.statuses,
              QStringList({"Downloading", "Completed Download.", "Finished. Data in File"}));
    EXPECT_EQ(world.panel.enabled_, std::vector<bool>({false, true}));
    EXPECT_EQ(world.panel.progress.back(), 100.0f);
    EXPECT_TRUE(world.panel.toolTip.isEmpty());
    const QList<QByteArray> lines = readAll(world.settings.SaveFileName).split('\n');
    ASSERT_EQ(lines.size(), 4); // header, two moments, and nothing after the last CR LF
    EXPECT_EQ(lines[0], "Date / Time,Flow Rate,Totaliser,Pressure,Temperature\r");
    EXPECT_TRUE(lines[1].startsWith("5/30/2001 10:00:00 PM, "));
    EXPECT_EQ(lines[1].count(','), 4);
}

TEST_F(DownloadCommanding, ButtonStaysDisabledWhileTheDownloadRuns) {
    std::vector<bool> seen;
    world.pump.setHook([&] { seen.push_back(world.panel.enabled_.back()); });
    command.run();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 0);
    EXPECT_TRUE(world.panel.enabled_.back());
}

TEST_F(DownloadCommanding, FileNameChosenDuringTheDownloadIsTheOneWritten) {
    const QString chosen = dir.filePath("chosen.csv");
    world.pump.setHook([&] { world.settings.SaveFileName = chosen; });
    EXPECT_EQ(command.run(), DownloadOutcome::Exported);
    EXPECT_TRUE(QFile::exists(chosen));
    EXPECT_FALSE(QFile::exists(dir.filePath("Logdata.csv")));
}

TEST_F(DownloadCommanding, FailedExportReportsItWithTheProgressAtHundred) {
    world.settings.SaveFileName = dir.filePath("missing/Logdata.csv");
    EXPECT_EQ(command.run(), DownloadOutcome::ExportFailed);
    EXPECT_EQ(world.panel.statuses.back(), "Error putting into file!!");
    EXPECT_EQ(world.panel.progress.back(), 100.0f);
    EXPECT_TRUE(world.panel.toolTip.contains("missing")) << world.panel.toolTip.toStdString();
    EXPECT_EQ(command.failureReason(), world.panel.toolTip);
    EXPECT_NE(world.grid.TextMatrix(2, 2), "");
    EXPECT_TRUE(world.panel.enabled_.back());
}

TEST_F(DownloadCommanding, FailedDownloadReportsItAndExportsNothing) {
    world.meter.setFaults([] {
        MeterFaults faults;
        faults.silent = true;
        return faults;
    }());
    EXPECT_EQ(command.run(), DownloadOutcome::DownloadFailed);
    EXPECT_EQ(world.panel.statuses, QStringList({"Downloading", "Error in Downloading!!"}));
    EXPECT_NE(world.panel.progress.back(), 100.0f);
    EXPECT_FALSE(world.panel.toolTip.isEmpty());
    EXPECT_FALSE(QFile::exists(world.settings.SaveFileName));
    EXPECT_EQ(world.panel.enabled_, std::vector<bool>({false, true}));
}

TEST_F(DownloadCommanding, NextDownloadStartsWithAnEmptiedGrid) {
    ASSERT_EQ(command.run(), DownloadOutcome::Exported);
    ASSERT_NE(world.grid.TextMatrix(3, 1), "");
    MeterLog shorter = generatedLog(4);
    world.meter.setLog(shorter);
    ASSERT_EQ(command.run(), DownloadOutcome::Exported);
    EXPECT_NE(world.grid.TextMatrix(2, 1), "");
    EXPECT_EQ(world.grid.TextMatrix(3, 1), "");
    EXPECT_EQ(world.grid.TextMatrix(3, 2), "");
    EXPECT_EQ(readAll(world.settings.SaveFileName).count('\n'), 2);
}

TEST_F(DownloadCommanding, DoesNotStartInsideAnotherTransaction) {
    std::optional<DownloadOutcome> nested;
    world.pump.setHook([&] {
        if (!nested && world.link.busy())
            nested = command.run();
    });
    // A display read that finds the meter silent: its wait lets the click in.
    world.meter.setFaults([] {
        MeterFaults faults;
        faults.silent = true;
        return faults;
    }());
    LinkSession(world.link).ReadHoldingRegisters(1, 0, 24, 10);
    ASSERT_TRUE(nested.has_value());
    EXPECT_EQ(*nested, DownloadOutcome::LinkBusy);
    EXPECT_TRUE(world.panel.statuses.isEmpty());
    EXPECT_TRUE(world.panel.enabled_.empty());

    world.pump.setHook({});
    world.meter.setFaults(MeterFaults());
    EXPECT_EQ(command.run(), DownloadOutcome::Exported);
}

class EmptyLogCommanding : public DownloadCommanding {
protected:
    EmptyLogCommanding() : DownloadCommanding(MeterLog()) {}
};

TEST_F(EmptyLogCommanding, EmptyLogReportsNoRecordsAndExportsNothing) {
    EXPECT_EQ(command.run(), DownloadOutcome::Empty);
    EXPECT_EQ(world.panel.statuses, QStringList({"Downloading", "0 Records Available"}));
    EXPECT_FALSE(QFile::exists(world.settings.SaveFileName));
    EXPECT_EQ(world.panel.enabled_, std::vector<bool>({false, true}));
    EXPECT_TRUE(world.panel.toolTip.isEmpty());
}

} // namespace
} // namespace meterlink
