#include "app/chart_tab.h"
#include "app/dwn_load1.h"
#include "window_test_world.h"
#include "wired_window.h"

#include <QChart>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include "qt_application_environment.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace meterlink {
namespace {

[[maybe_unused]] ::testing::Environment* const qtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// The channels in the legend, when the tab draws anything at all.
std::set<QString> shownNames(const ChartTab* tab) {
    std::set<QString> names;
    if (tab->drawnPoints() == 0)
        return names;
    for (QAbstractSeries* series : tab->chart()->series())
        names.insert(series->name());
    return names;
}

class ChartTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        MeterLog::Generation how;
        how.records = 400;
        world.meter.setLog(MeterLog::generated(how));
        window = std::make_unique<WiredWindow>(
            settings, SettingsFile(dir.path()), world.link, world.pump, world.grid,
            [](QWidget*, const SaveFileRequest&) { return std::optional<QString>(); });
        window->findChild<QLineEdit*>("Text2")->setText(dir.filePath("log.csv"));
        window->show();
        tabs = window->findChild<QTabWidget*>("SSTab1");
        chartTab = window->findChild<ChartTab*>("ChartTab");
        ASSERT_NE(chartTab, nullptr);
    }

    QTemporaryDir dir;
    Settings settings;
    WindowLinkWorld world{settings};
    std::unique_ptr<DwnLoad1> window;
    QTabWidget* tabs = nullptr;
    ChartTab* chartTab = nullptr;
};

TEST_F(ChartTabTest, FifthTabChartsEveryChannelOfADownloadAndItsFileAndLeavesThePollingAlone) {
    ASSERT_EQ(tabs->count(), 5);
    EXPECT_EQ(tabs->tabText(4), "Chart");
    EXPECT_EQ(tabs->tabText(3), "Display Meter ");
    auto* pages = chartTab->findChild<QStackedWidget*>();
    EXPECT_EQ(pages->currentWidget()->objectName(), "ChartEmpty");

    window->findChild<QPushButton*>("Command2")->click();
    EXPECT_EQ(shownNames(chartTab),
              (std::set<QString>{"Flow Rate", "Totaliser", "Pressure", "Temperature"}));
    EXPECT_EQ(pages->currentWidget()->objectName(), "ChartView");
    EXPECT_EQ(chartTab->data().rows, 100);

    // The file the download wrote charts the same as the grid it came from.
    const ChartData fromGrid = chartTab->data();
    QSignalSpy read(chartTab, &ChartTab::fileRead);
    chartTab->openCsv(dir.filePath("log.csv"));
    ASSERT_TRUE(read.wait(10000));
    ASSERT_EQ(chartTab->data().channels.size(), fromGrid.channels.size());
    for (std::size_t c = 0; c < fromGrid.channels.size(); ++c) {
        EXPECT_EQ(chartTab->data().channels[c].name, fromGrid.channels[c].name);
        EXPECT_EQ(chartTab->data().channels[c].times, fromGrid.channels[c].times);
        EXPECT_EQ(chartTab->data().channels[c].values, fromGrid.channels[c].values);
    }

    auto* timer = window->findChild<QTimer*>("Timer1");
    tabs->setCurrentIndex(4);
    EXPECT_FALSE(timer->isActive());
    tabs->setCurrentIndex(3);
    EXPECT_TRUE(timer->isActive());
    tabs->setCurrentIndex(4);
    EXPECT_FALSE(timer->isActive());
}

TEST_F(ChartTabTest, OpensAFileInTheBackgroundKeepsTheChartOnABadOneAndSavesPngAndSvg) {
    const QString good = dir.filePath("good.csv");
    QFile file(good);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Date / Time,Level\r\n2001-05-17 09:30:00, 1\r\n2001-05-17 09:40:00, 1E+37\r\n"
               "2001-05-17 09:50:00, 3\r\n2001-05-17 10:00:00, 2\r\n");
    file.close();
    QSignalSpy read(chartTab, &ChartTab::fileRead);
    tabs->setCurrentIndex(4);

    chartTab->openCsv(good);
    ASSERT_TRUE(read.wait(10000));
    EXPECT_EQ(shownNames(chartTab), std::set<QString>{"Level"});
    auto* note = chartTab->findChild<QLabel*>("ChartNote");
    EXPECT_TRUE(note->text().contains("1 limit value")) << note->text().toStdString();
    // Hovering: the reading under the pointer, and nothing a little above the line.
    auto* line = static_cast<QLineSeries*>(chartTab->chart()->series().value(0));
    ASSERT_NE(line, nullptr);
    const ChannelSeries& level = chartTab->data().channels.at(0);
    ASSERT_EQ(level.times.size(), 3u);
    const QPointF reading = chartTab->chart()->mapToScene(
        chartTab->chart()->mapToPosition(QPointF(level.times[1], level.values[1]), line));
    EXPECT_EQ(chartTab->pointNear(reading).split('\n').value(0), "Level");
    EXPECT_EQ(chartTab->pointNear(reading).split('\n').value(2), "3");
    EXPECT_TRUE(chartTab->pointNear(reading + QPointF(0, 30)).isEmpty());

    chartTab->openCsv(dir.filePath("missing.csv"));
    ASSERT_TRUE(read.wait(10000));
    EXPECT_TRUE(note->text().contains("missing.csv")) << note->text().toStdString();
    EXPECT_EQ(shownNames(chartTab), std::set<QString>{"Level"});

    // Laid out at the size asked for (the size on screen when none is), then put back.
    const QSizeF onScreen = chartTab->chart()->size();
    for (const auto& [name, size] :
         {std::pair{"chart.png", QSize(1920, 1080)}, std::pair{"small.png", QSize()},
          std::pair{"chart.svg", QSize(1280, 720)}}) {
        ASSERT_TRUE(chartTab->saveImage(dir.filePath(name), size)) << note->text().toStdString();
        QFile saved(dir.filePath(name));
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        const QByteArray bytes = saved.readAll();
        if (QByteArray(name).endsWith(".svg")) {
            EXPECT_TRUE(bytes.contains("viewBox=\"0 0 1280 720\"")) << bytes.left(400).data();
        } else {
            const QImage image = QImage::fromData(bytes, "PNG");
            EXPECT_EQ(image.size(),
                      size.isValid() ? size : chartTab->findChild<QWidget*>("ChartView")->size())
                << name;
        }
        EXPECT_EQ(chartTab->chart()->size(), onScreen);
    }
    EXPECT_FALSE(chartTab->saveImage(dir.filePath("huge.png"), QSize(100000, 100)));
    EXPECT_TRUE(note->text().contains("too large")) << note->text().toStdString();
}

} // namespace
} // namespace meterlink
