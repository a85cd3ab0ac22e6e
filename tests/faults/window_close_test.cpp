// Closing the window or choosing "E&xit" at any moment of a download or a display tick:
// never a crash, never a wait longer than the transaction in progress needs, the settings
// written exactly once, and the CSV file either complete or as it was.

#include "app/dwn_load1.h"
#include "tests/window_test_world.h"
#include "tests/wired_window.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include "tests/qt_application_environment.h"

#include <gtest/gtest.h>

#include <memory>

namespace meterlink {
namespace {

[[maybe_unused]] ::testing::Environment* const qtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

const QByteArray kEarlierCsv = "earlier download\r\n";
// The longest a transaction of the link waits: a function-96 read, whole-second references.
constexpr double kOneTransaction = 5.5;

enum class Ending { Close, Exit };
enum class Work { Download, Tick };

struct Outcome {
    int saves = 0;
    bool endedAsked = false; // the hook reached the moment
    double waitedAfterAsking = 0;
    bool visible = true;
    QByteArray csv;
    int yieldsSeen = 0;
};

// One window with its own meter, asked to end at the given yield of the work.
Outcome endAt(Work work, Ending ending, long long atYield, bool silentMeter) {
    // An earlier "E&xit" told the (not running) main loop to end; a short run clears that.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();

    QTemporaryDir dir;
    Settings settings;
    WindowLinkWorld world(settings);
    MeterLog::Generation how;
    how.records = 300;
    world.meter.setLog(MeterLog::generated(how));
    if (silentMeter) {
        world.intercept = [](const QByteArray&) {
            return std::optional<std::vector<MeterReply>>(std::vector<MeterReply>{});
        };
    }
    const QString csvPath = dir.filePath("log.csv");
    {
        QFile earlier(csvPath);
        earlier.open(QIODevice::WriteOnly);
        earlier.write(kEarlierCsv);
    }
    WiredWindow window(settings, SettingsFile(dir.path()), world.link, world.pump, world.grid,
                       [](QWidget*, const SaveFileRequest&) { return std::optional<QString>(); });
    window.setStopDownloadQuestion(stopAnsweredYes);
    Outcome outcome;
    QObject::connect(&window, &DwnLoad1::settingsSaved, [&](bool) { ++outcome.saves; });
    window.findChild<QLineEdit*>("Text2")->setText(csvPath);
    window.show();

    double askedAt = -1;
    world.pump.setHook([&] {
        ++outcome.yieldsSeen;
        if (atYield < 0 || askedAt >= 0 || world.pump.yields() < atYield)
            return;
        askedAt = world.clock.elapsed();
        outcome.endedAsked = true;
        if (ending == Ending::Close)
            window.close();
        else
            window.findChild<QAction*>("File_mnu")->trigger();
    });
    if (work == Work::Download) {
        window.findChild<QPushButton*>("Command2")->click();
    } else {
        window.findChild<QTabWidget*>("SSTab1")->setCurrentIndex(3);
        window.Timer1_Timer();
    }
    outcome.waitedAfterAsking = askedAt >= 0 ? world.clock.elapsed() - askedAt : 0;
    outcome.visible = window.isVisible();
    world.pump.setHook({});
    // Whatever came first, ending again saves nothing more.
    window.close();
    QFile csv(csvPath);
    csv.open(QIODevice::ReadOnly);
    outcome.csv = csv.readAll();
    return outcome;
}

struct Case {
    const char* name;
    Work work;
    Ending ending;
    bool silentMeter;
};

class WindowEndsAtAnyMoment : public ::testing::TestWithParam<Case> {};

TEST_P(WindowEndsAtAnyMoment, SavesOnceAndWaitsOnlyForTheTransactionInProgress) {
    const Case c = GetParam();
    // The whole work when nobody interrupts it: how long it takes, what it writes.
    const Outcome whole = endAt(c.work, c.ending, -1, c.silentMeter);
    const int total = whole.yieldsSeen;
    ASSERT_GT(total, 10);
    const int step = std::max(1, total / 40);
    for (long long at = 1; at <= total; at += step) {
        SCOPED_TRACE(at);
        const Outcome o = endAt(c.work, c.ending, at, c.silentMeter);
        ASSERT_TRUE(o.endedAsked);
        EXPECT_EQ(o.saves, 1);
        EXPECT_LE(o.waitedAfterAsking, kOneTransaction);
        if (c.ending == Ending::Close) {
            EXPECT_FALSE(o.visible);
        }
        // A download stopped part-way leaves the earlier file; only a whole one replaces it.
        if (o.csv != kEarlierCsv) {
            EXPECT_EQ(o.csv, whole.csv);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WindowEndsAtAnyMoment,
    ::testing::Values(Case{"CloseDuringDownload", Work::Download, Ending::Close, false},
                      Case{"ExitDuringDownload", Work::Download, Ending::Exit, false},
                      Case{"CloseDuringSilentDownload", Work::Download, Ending::Close, true},
                      Case{"ExitDuringSilentDownload", Work::Download, Ending::Exit, true},
                      Case{"CloseDuringTick", Work::Tick, Ending::Close, false},
                      Case{"ExitDuringSilentTick", Work::Tick, Ending::Exit, true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
} // namespace meterlink
