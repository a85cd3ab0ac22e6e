#include "display/display_panel.h"
#include "display/display_view.h"
#include "logger/download_command.h"
#include "logger/download_log.h"
#include "logger/download_panel.h"
#include "logger/download_view.h"
#include "logger/grid_model.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"
#include "sim/fake_event_pump.h"
#include "sim/in_memory_port.h"
#include "sim/simulated_meter.h"
#include "tests/line_endpoint.h"

#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <utility>
#include <vector>

namespace meterlink {
namespace {

struct RecordingView : DisplayView {
    void setLine(int index, const QString& text) override { lineWrites.emplace_back(index, text); }
    void setTimerEnabled(bool enabled) override { timer.push_back(enabled); }

    std::vector<std::pair<int, QString>> lineWrites;
    std::vector<bool> timer;
};

const QByteArray kEnterWrite = QByteArray::fromHex("011000d100010245ffc6c1");
const QByteArray k2ndWrite = QByteArray::fromHex("011000d100010246ffc631");
const std::vector<QByteArray> kLineReads = {
    QByteArray::fromHex("01030018000a45ca"), QByteArray::fromHex("01030022000a65c7"),
    QByteArray::fromHex("0103002c000a0404"), QByteArray::fromHex("01030036000a25c3")};

// The meter on an in-memory line, the link and the display panel.
struct DisplayWorld {
    DisplayWorld() {
        meter.display().setMode(MeterDisplay::Mode::Plain);
        port.setResponder([this](const QByteArray& written, double now) {
            if (intercept) {
                if (auto replies = intercept(written))
                    return *replies;
            }
            return meter.receive(written, now);
        });
    }

    // Frames written since `from`, resends included.
    std::vector<QByteArray> frames(size_t from = 0) const {
        std::vector<QByteArray> out;
        for (size_t i = from; i < port.written().size(); ++i)
            out.push_back(port.written()[i].bytes);
        return out;
    }
    size_t frameCount() const { return port.written().size(); }
    QString meterLine(int index) const {
        return QString::fromLatin1(meter.display().line(index, clock.elapsed()));
    }

    // Answers a request instead of the meter (empty: silence); nullopt lets the meter answer.
    std::function<std::optional<std::vector<MeterReply>>(const QByteArray&)> intercept;

    FakeClock clock{36000.0};
    FakeEventPump pump{clock, 0.002};
    InMemoryPort port{clock};
    Settings settings{1, QStringLiteral("38400"), 1, QStringLiteral("Logdata.csv")};
    ModbusLink link{port, clock, pump, lineAtSettingsSpeed(settings)};
    SimulatedMeter meter{MeterLog(), 1};
    RecordingView view;
    DisplayPanel panel{link, settings, view};
};

bool isFunction(const QByteArray& frame, int function) {
    return frame.size() > 1 && quint8(frame[1]) == function;
}

class DisplayPolling : public ::testing::Test {
protected:
    DisplayWorld world;
    DisplayPanel& panel = world.panel;
};

TEST_F(DisplayPolling, KeysGoOutOnePerTickOldestFirst) {
    panel.queueKey(14); // Enter
    panel.queueKey(15); // 2nd
    EXPECT_EQ(panel.keyBuffer().text(), "EF");

    ASSERT_TRUE(panel.refresh());
    std::vector<QByteArray> expected{kEnterWrite};
    expected.insert(expected.end(), kLineReads.begin(), kLineReads.end());
    EXPECT_EQ(world.frames(), expected);
    EXPECT_EQ(panel.keyBuffer().text(), "F");

    const size_t mark = world.frameCount();
    ASSERT_TRUE(panel.refresh());
    expected[0] = k2ndWrite;
    EXPECT_EQ(world.frames(mark), expected);
    EXPECT_TRUE(panel.keyBuffer().isEmpty());
    EXPECT_EQ(world.meter.keysReceived(), "EF");
}

TEST_F(DisplayPolling, EmptyQueueMakesExactlyFourReadsAndNoWrite) {
    panel.refresh();
    EXPECT_EQ(world.frames(), kLineReads);
}

TEST_F(DisplayPolling, LinesShowWhatTheMeterDisplays) {
    panel.queueKey(0);
    panel.refresh();
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(panel.line(n), world.meterLine(n)) << n;
    EXPECT_EQ(panel.line(0), "SIMULATED METER     ");
    EXPECT_EQ(panel.line(3), "Keys: 1             ");
    ASSERT_EQ(world.view.lineWrites.size(), 4u);
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(world.view.lineWrites[size_t(n)], std::make_pair(n, panel.line(n)));
}

TEST_F(DisplayPolling, FailedWriteKeepsTheKeyAndTheReadsStillHappen) {
    panel.queueKey(4); // "4"
    panel.queueKey(5); // "5"
    world.intercept = [](const QByteArray& frame) -> std::optional<std::vector<MeterReply>> {
        if (isFunction(frame, 16))
            return std::vector<MeterReply>{}; // silence
        return std::nullopt;
    };
    panel.refresh();
    EXPECT_EQ(panel.keyBuffer().text(), "45");
    int reads = 0;
    for (const QByteArray& frame : world.frames())
        reads += isFunction(frame, 3) ? 1 : 0;
    EXPECT_EQ(reads, 4);
    EXPECT_EQ(panel.line(0), "SIMULATED METER     ");

    world.intercept = nullptr;
    panel.refresh();
    EXPECT_EQ(panel.keyBuffer().text(), "5");
    EXPECT_EQ(world.meter.keysReceived(), "4");
}

TEST_F(DisplayPolling, FailedReadKeepsItsLineAndLaterReadsGoOn) {
    panel.refresh();
    const QString before = panel.line(1);
    world.meter.display().setFixedLine(0, "CHANGED");
    world.meter.display().setFixedLine(1, "CHANGED TOO");
    world.meter.display().setFixedLine(2, "AND THIS");
    world.intercept = [](const QByteArray& frame) -> std::optional<std::vector<MeterReply>> {
        if (frame == QByteArray::fromHex("01030022000a65c7"))
            return std::vector<MeterReply>{};
        return std::nullopt;
    };
    panel.refresh();
    EXPECT_EQ(panel.line(0), "CHANGED             ");
    EXPECT_EQ(panel.line(1), before);
    EXPECT_EQ(panel.line(2), "AND THIS            ");
}

TEST_F(DisplayPolling, DisconnectedMeterKeepsLinesAndKeys) {
    world.intercept = [](const QByteArray&) -> std::optional<std::vector<MeterReply>> {
        return std::vector<MeterReply>{};
    };
    panel.tabChanged(0, DisplayPanel::DisplayTab);
    panel.queueKey(12);
    panel.refresh();
    for (int n = 0; n < 4; ++n)
        EXPECT_TRUE(panel.line(n).isEmpty()) << n;
    EXPECT_EQ(panel.keyBuffer().text(), "M");
}

TEST_F(DisplayPolling, UnprintableDisplayBytesShowAsCode157) {
    world.meter.display().setFixedLine(2, QByteArray::fromHex("000afeff0bfd41"));
    panel.refresh();
    const QString line = panel.line(2);
    ASSERT_EQ(line.size(), 20);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(line[i].unicode(), 157) << i;
    EXPECT_EQ(line[4].unicode(), 0x0B);
    EXPECT_EQ(line[5].unicode(), 0xFD);
    EXPECT_EQ(line[6], QLatin1Char('A'));
}

TEST_F(DisplayPolling, KeysPressedDuringATickStayQueuedInOrder) {
    panel.queueKey(14);
    bool pressed = false;
    world.pump.setHook([&] {
        if (!pressed) {
            pressed = true;
            panel.queueKey(0);
            panel.queueKey(1);
            panel.queueKey(2);
        }
    });
    panel.refresh();
    EXPECT_EQ(world.meter.keysReceived(), "E");
    EXPECT_EQ(panel.keyBuffer().text(), "123");
    world.pump.setHook(nullptr);
    panel.refresh();
    EXPECT_EQ(world.meter.keysReceived(), "E1");
    EXPECT_EQ(panel.keyBuffer().text(), "23");
}

TEST_F(DisplayPolling, TickFallingDueDuringATickIsSkippedWhole) {
    panel.queueKey(0);
    int nestedPolls = 0;
    world.pump.setHook([&] { nestedPolls += panel.refresh() ? 1 : 0; });
    panel.refresh();
    EXPECT_EQ(nestedPolls, 0);
    EXPECT_GT(panel.skippedTicks(), 0);
    EXPECT_EQ(world.frameCount(), 5u);
    EXPECT_EQ(world.meter.keysReceived(), "1");
    EXPECT_FALSE(world.link.inSession());
}

TEST_F(DisplayPolling, TickWhileAnotherTransactionWaitsSendsNothing) {
    panel.queueKey(0);
    world.pump.setHook([&] { panel.refresh(); });
    ASSERT_TRUE(LinkSession(world.link).ReadHoldingRegisters(1, 0, 76, 8));
    EXPECT_EQ(world.frameCount(), 1u);
    EXPECT_EQ(panel.keyBuffer().text(), "1");
    EXPECT_TRUE(world.view.lineWrites.empty());
}

TEST_F(DisplayPolling, AbortedTickMakesNoFurtherTransactions) {
    world.pump.setHook([&] {
        if (world.frameCount() == 1)
            world.link.abort();
    });
    panel.refresh();
    EXPECT_EQ(world.frameCount(), 1u);
    world.pump.setHook(nullptr);
    panel.refresh(); // the next tick is whole again
    EXPECT_EQ(world.frameCount(), 5u);
}

TEST_F(DisplayPolling, TabChangesSwitchTheTimerAndBlankOnEntry) {
    panel.refresh();
    world.view.lineWrites.clear();

    panel.tabChanged(0, 3);
    const std::vector<std::pair<int, QString>> blanked{{0, ""}, {1, ""}, {2, ""}, {3, ""}};
    EXPECT_EQ(world.view.lineWrites, blanked);
    EXPECT_EQ(world.view.timer, std::vector<bool>{true});

    panel.refresh();
    world.view.lineWrites.clear();
    panel.tabChanged(3, 1);
    EXPECT_TRUE(world.view.lineWrites.empty());
    EXPECT_EQ(world.view.timer, (std::vector<bool>{true, false}));
    EXPECT_EQ(panel.line(0), "SIMULATED METER     ");

    panel.tabChanged(1, 2);
    EXPECT_TRUE(world.view.lineWrites.empty());
    EXPECT_EQ(world.view.timer.size(), 2u);

    panel.tabChanged(2, 3); // every visit starts blank
    EXPECT_EQ(world.view.lineWrites, blanked);
    EXPECT_TRUE(panel.line(0).isEmpty());
    EXPECT_EQ(world.view.timer.back(), true);
}

TEST_F(DisplayPolling, KeysSurviveLeavingTheTab) {
    panel.tabChanged(0, 3);
    panel.queueKey(13);
    panel.tabChanged(3, 0);
    EXPECT_EQ(panel.keyBuffer().text(), "0");
    panel.tabChanged(0, 3);
    panel.refresh();
    EXPECT_EQ(world.meter.keysReceived(), "0");
}

// A download with display ticks falling due at every one of its waits.
struct DownloadRecorder : DownloadPanel, DownloadView {
    void setText3(int, const QString&) override {}
    void setProgress(float) override {}
    void setStatusText(const QString& text) override { statuses << text; }
    void setStatusToolTip(const QString&) override {}
    void setDownloadEnabled(bool) override {}
    QStringList statuses;
};

struct DownloadRun {
    std::vector<QByteArray> frames;
    DownloadOutcome outcome;
    QStringList statuses;
    QStringList rows;
    int polls = 0;
};

DownloadRun downloadWithTicks(bool ticking) {
    DisplayWorld world;
    world.meter.setLog([] {
        MeterLog::Generation how;
        how.records = 300;
        return MeterLog::generated(how);
    }());
    QTemporaryDir dir;
    world.settings.SaveFileName = dir.filePath("log.csv");
    GridModel grid;
    DownloadRecorder recorder;
    DownloadLog download(world.link, world.pump, world.settings, grid, recorder,
                         QLocale(QLocale::English, QLocale::UnitedStates));
    DownloadCommand command(world.link, world.settings, grid, download, recorder);
    world.panel.queueKey(0);
    DownloadRun run;
    if (ticking)
        world.pump.setHook([&] { run.polls += world.panel.refresh() ? 1 : 0; });
    run.outcome = command.run();
    run.frames = world.frames();
    run.statuses = recorder.statuses;
    for (int row = 0; row <= download.LastGridRow(); ++row) {
        QStringList cells;
        for (int column = 0; column < GridModel::columns; ++column)
            cells << grid.TextMatrix(row, column);
        run.rows << cells.join(QLatin1Char(','));
    }
    EXPECT_EQ(world.panel.keyBuffer().text(), "1");
    return run;
}

TEST(DisplayDuringDownload, TicksAreSkippedAndTheDownloadIsUntouched) {
    const DownloadRun quiet = downloadWithTicks(false);
    const DownloadRun ticked = downloadWithTicks(true);
    EXPECT_EQ(quiet.outcome, DownloadOutcome::Exported);
    EXPECT_EQ(ticked.outcome, quiet.outcome);
    EXPECT_EQ(ticked.polls, 0);
    EXPECT_EQ(ticked.frames, quiet.frames);
    EXPECT_EQ(ticked.statuses, quiet.statuses);
    EXPECT_EQ(ticked.rows, quiet.rows);
    EXPECT_GT(ticked.rows.size(), 10);
}

} // namespace
} // namespace meterlink
