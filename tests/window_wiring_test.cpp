#include "app/dwn_load1.h"
#include "display/display_panel.h"
#include "logger/grid_model.h"
#include "window_test_world.h"
#include "wired_window.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>

// The QApplication comes from the main window tests of this program.

namespace meterlink {
namespace {

MeterLog logOf(int records) {
    MeterLog::Generation how;
    how.records = records;
    return MeterLog::generated(how);
}

bool isFunction(const QByteArray& frame, int function) {
    return frame.size() > 1 && quint8(frame[1]) == function;
}

// A display-line read (function 3 at registers 24 to 63).
bool isLineRead(const QByteArray& frame) {
    return isFunction(frame, 3) && quint8(frame[3]) >= 24 && quint8(frame[3]) <= 54;
}

// A read of the log itself (function 96 in the log's banks, not the channels' bank 24).
bool isLogBlockRead(const QByteArray& frame) {
    return isFunction(frame, 0x60) && quint8(frame[2]) != 24;
}

class WindowWiring : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // An earlier "E&xit" told the (not running) main loop to end, and every nested loop
        // would return at once; a short run of the main loop clears that.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        world.meter.setLog(logOf(40));
        window = std::make_unique<WiredWindow>(
            settings, SettingsFile(dir.path()), world.link, world.pump, world.grid,
            [](QWidget*, const SaveFileRequest&) { return std::optional<QString>(); });
        QObject::connect(window.get(), &DwnLoad1::settingsSaved, [this](bool written) {
            saves.push_back(written);
            statusAtSave = child<QLabel>("Label4")->text();
        });
        window->setStopDownloadQuestion(
            [this](QWidget*, const QString& question, std::function<void(bool)> answer) {
                questionsAsked.append(question);
                if (answerAtOnce) {
                    answer(*answerAtOnce);
                    return WithdrawQuestion();
                }
                shownAnswer = std::move(answer);
                return WithdrawQuestion([this] {
                    questionWithdrawn = true;
                    shownAnswer = nullptr;
                });
            });
        child<QLineEdit>("Text2")->setText(dir.filePath("log.csv"));
        window->show();
    }

    template <typename T> T* child(const QString& name) const {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    QLineEdit* line(int n) const { return child<QLineEdit>(QStringLiteral("Text4_%1").arg(n)); }
    QPushButton* key(int n) const {
        return child<QPushButton>(QStringLiteral("Command1_%1").arg(n));
    }
    QTimer* timer() const { return child<QTimer>("Timer1"); }
    QTabWidget* tabs() const { return child<QTabWidget>("SSTab1"); }
    QString status() const { return child<QLabel>("Label4")->text(); }
    QPushButton* downloadButton() const { return child<QPushButton>("Command2"); }
    int logBlockReads() const {
        const auto frames = world.frames();
        return int(std::count_if(frames.begin(), frames.end(), isLogBlockRead));
    }
    void writeEarlierCsv() {
        QFile earlier(dir.filePath("log.csv"));
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier download\r\n");
    }
    QByteArray csv() const {
        QFile file(dir.filePath("log.csv"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    const KeyBuffer& keys() const { return window->displayPanel().keyBuffer(); }

    // Presses a PC key on the focused widget and waits (bounded) for the button's animated
    // click.
    bool pressKey(int qtKey, QPushButton* expected) {
        int clicks = 0;
        QEventLoop loop;
        const auto counted = QObject::connect(expected, &QPushButton::clicked, &loop, [&] {
            ++clicks;
            loop.quit();
        });
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window.get();
        QTest::keyClick(target, Qt::Key(qtKey & ~Qt::KeypadModifier),
                        Qt::KeyboardModifiers(qtKey & Qt::KeypadModifier));
        if (clicks == 0 && expected->isDown()) {
            QTimer::singleShot(5000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        QObject::disconnect(counted);
        return clicks == 1;
    }

    QTemporaryDir dir;
    Settings settings;
    WindowLinkWorld world{settings};
    std::unique_ptr<DwnLoad1> window;
    std::vector<bool> saves;
    QString statusAtSave;
    // The stop question: answered at once when set, else shown until answered or withdrawn.
    std::optional<bool> answerAtOnce = true;
    QStringList questionsAsked;
    std::function<void(bool)> shownAnswer;
    bool questionWithdrawn = false;
};

TEST_F(WindowWiring, EnteringTheDisplayTabBlanksTheLinesAndStartsTheTimer) {
    for (int n = 0; n < 4; ++n)
        line(n)->setText("old");
    tabs()->setCurrentIndex(3);
    for (int n = 0; n < 4; ++n)
        EXPECT_TRUE(line(n)->text().isEmpty()) << n;
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(timer()->interval(), 750);
    EXPECT_EQ(world.port.openCount(), 0); // nothing goes out before the first tick

    window->Timer1_Timer();
    EXPECT_EQ(line(0)->text(), "SIMULATED METER     ");
    EXPECT_EQ(line(1)->text(), "Records 40          ");

    tabs()->setCurrentIndex(1);
    EXPECT_FALSE(timer()->isActive());
    EXPECT_EQ(line(0)->text(), "SIMULATED METER     ");

    tabs()->setCurrentIndex(2);
    EXPECT_FALSE(timer()->isActive());
    EXPECT_EQ(line(0)->text(), "SIMULATED METER     ");
}

TEST_F(WindowWiring, LeavingTheTabDuringATickStopsTheTimerAndTheTickFinishes) {
    tabs()->setCurrentIndex(3);
    world.pump.setHook([&] { tabs()->setCurrentIndex(0); });
    window->Timer1_Timer();
    EXPECT_FALSE(timer()->isActive());
    EXPECT_EQ(world.frames().size(), 4u);
    EXPECT_EQ(line(3)->text(), "Keys:               ");
}

TEST_F(WindowWiring, DisplayTabSaysWhenTheMeterDoesNotAnswerUntilItDoes) {
    tabs()->setCurrentIndex(3);
    auto* noAnswer = child<QLabel>("DisplayNoAnswer");
    EXPECT_TRUE(noAnswer->text().isEmpty());
    world.intercept = [](const QByteArray&) -> std::optional<std::vector<MeterReply>> {
        return std::vector<MeterReply>{};
    };
    window->Timer1_Timer();
    EXPECT_TRUE(noAnswer->text().startsWith("The meter does not answer: No answer from slave 1"))
        << noAnswer->text().toStdString();
    EXPECT_TRUE(line(0)->text().isEmpty()); // the lines stay the meter's
    world.intercept = nullptr;
    window->Timer1_Timer();
    EXPECT_TRUE(noAnswer->text().isEmpty());
    EXPECT_EQ(line(0)->text(), "SIMULATED METER     ");
}

TEST_F(WindowWiring, KeypadPressesReachTheMeterOnePerTick) {
    tabs()->setCurrentIndex(3);
    key(14)->click();
    key(15)->click();
    window->Timer1_Timer();
    EXPECT_EQ(world.meter.keysReceived(), "E");
    EXPECT_EQ(line(3)->text(), "Keys: E             ");
    window->Timer1_Timer();
    EXPECT_EQ(world.meter.keysReceived(), "EF");
    EXPECT_EQ(line(2)->text(), "2nd                 ");
}

TEST_F(WindowWiring, UnprintableDisplayCodesAreDrawnAsShadedCells) {
    world.meter.display().setFixedLine(0, QByteArray::fromHex("41ff0b42"));
    tabs()->setCurrentIndex(3);
    window->Timer1_Timer();
    EXPECT_EQ(window->displayPanel().line(0).left(4), QString::fromUtf16(u"A\u009d\u000bB"));
    EXPECT_EQ(line(0)->text().left(4), QString::fromUtf16(u"A\u2592\u000bB"));
}

TEST_F(WindowWiring, PcKeysPressTheKeypadWhileTheDisplayTabIsShown) {
    tabs()->setCurrentIndex(3);
    // Shortcuts go to the active window only.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    line(0)->setFocus();
    const std::pair<int, int> presses[] = {
        {Qt::Key_1, 0},      {Qt::Key_0, 13},      {Qt::Key_9 | Qt::KeypadModifier, 10},
        {Qt::Key_Period, 3}, {Qt::Key_Return, 14}, {Qt::Key_Enter | Qt::KeypadModifier, 14},
        {Qt::Key_Up, 7},     {Qt::Key_Down, 11},   {Qt::Key_M, 12},
        {Qt::Key_S, 15}};
    for (const auto& [qtKey, button] : presses)
        ASSERT_TRUE(pressKey(qtKey, key(button))) << qtKey;
    // Timer1 runs meanwhile and may already have sent some of them.
    EXPECT_EQ(world.meter.keysReceived() + keys().text(), "109.EENLMF");
    // Each key names its PC keys.
    EXPECT_EQ(key(12)->toolTip(), "Keyboard: M");
    EXPECT_EQ(key(15)->toolTip(), "Keyboard: S or F");
}

TEST_F(WindowWiring, PcKeysLeaveTheKeypadAloneOnOtherTabs) {
    tabs()->setCurrentIndex(2);
    auto* slaveId = child<QLineEdit>("Text1");
    slaveId->setFocus();
    slaveId->setText("1");
    QTest::keyClick(slaveId, Qt::Key_7);
    QTest::keyClick(slaveId, Qt::Key_Return);
    EXPECT_EQ(slaveId->text(), "17");
    EXPECT_FALSE(key(14)->isDown());
    EXPECT_TRUE(keys().isEmpty());
}

TEST_F(WindowWiring, DownloadFillsTheDownloadTabTheGridAndTheFile) {
    child<QPushButton>("Command2")->click();
    EXPECT_EQ(status(), "Finished. Data in File");
    EXPECT_TRUE(child<QLabel>("Label4")->toolTip().isEmpty());
    EXPECT_TRUE(child<QPushButton>("Command2")->isEnabled());
    EXPECT_EQ(child<QProgressBar>("ProgressBar1")->value(), 100);
    EXPECT_EQ(child<QLineEdit>("Text3_0")->text(), "Flow Rate");
    EXPECT_FALSE(child<QLineEdit>("Text3_9")->text().isEmpty());
    EXPECT_TRUE(QFile::exists(dir.filePath("log.csv")));

    auto* grid = child<QTableView>("MSHFlexGrid1");
    const QAbstractItemModel* shown = grid->model();
    EXPECT_EQ(shown->index(1, 1).data().toString(), "Date / Time");
    const QFont heading = shown->index(1, 2).data(Qt::FontRole).value<QFont>();
    EXPECT_TRUE(heading.bold());
    EXPECT_TRUE(heading.underline());
    EXPECT_EQ(shown->headerData(1, Qt::Vertical).toString(), "Record #");
    EXPECT_FALSE(shown->index(2, 1).data().toString().isEmpty());
    EXPECT_EQ(shown->headerData(2, Qt::Horizontal).toString(), "Flow Rate");
    // Widths in twips from the download, shown at fifteen twips a pixel; the timestamps'
    // column may need more.
    EXPECT_GE(window->gridColumnWidth(1), 120);
    EXPECT_EQ(window->gridColumnWidth(2), 133);
    EXPECT_EQ(window->gridColumnWidth(0), 67);
}

TEST_F(WindowWiring, FailedDownloadGivesItsReasonAsTheStatusToolTip) {
    world.intercept = [](const QByteArray&) -> std::optional<std::vector<MeterReply>> {
        return std::vector<MeterReply>{};
    };
    child<QPushButton>("Command2")->click();
    EXPECT_EQ(status(), "Error in Downloading!!");
    const QString reason = child<QLabel>("Label4")->toolTip();
    EXPECT_TRUE(reason.contains("No answer from slave 1")) << reason.toStdString();
    EXPECT_EQ(child<QLabel>("DownloadReason")->text(), reason); // and in plain sight
    EXPECT_TRUE(child<QPushButton>("Command2")->isEnabled());

    world.intercept = nullptr;
    child<QPushButton>("Command2")->click();
    EXPECT_EQ(status(), "Finished. Data in File");
    EXPECT_TRUE(child<QLabel>("DownloadReason")->text().isEmpty());
    // A whole download is not marked as a part.
    EXPECT_TRUE(child<QLabel>("ViewNotSaved")->isHidden());
    EXPECT_FALSE(child<QLabel>("ChartSource")->text().contains("not saved"));
}

TEST_F(WindowWiring, GridGrowsWithTheWindowAndKeepsItsHeadingsInViewFromTheTopLeft) {
    world.meter.setLog(logOf(3000));
    const QSize start = window->size();
    EXPECT_EQ(window->minimumSize(), start);
    auto* grid = child<QTableView>("MSHFlexGrid1");
    const QSize gridAtStart = grid->size();
    const QPoint statusFrame = child<QWidget>("Frame5")->pos();
    window->resize(start + QSize(300, 200));
    QCoreApplication::processEvents();                       // the platform reports the new size
    EXPECT_EQ(child<QWidget>("Frame5")->pos(), statusFrame); // the other tabs stay put
    tabs()->setCurrentIndex(1);                              // laid out when shown
    EXPECT_EQ(grid->size(), gridAtStart + QSize(300, 200));

    child<QPushButton>("Command2")->click();
    grid->scrollToBottom();
    grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
    EXPECT_GT(grid->rowAt(0), 2000);
    EXPECT_TRUE(grid->horizontalHeader()->isVisible());
    EXPECT_EQ(grid->model()->headerData(2, Qt::Horizontal).toString(), "Flow Rate");

    // The next download shows its records from the first one and the first column.
    child<QPushButton>("Command2")->click();
    EXPECT_EQ(grid->rowAt(0), 2);
    EXPECT_EQ(grid->columnAt(0), 1);
}

TEST_F(WindowWiring, TicksDuringADownloadAreSkipped) {
    key(0)->click();
    bool sawStop = false;
    world.pump.setHook([&] {
        sawStop = sawStop || downloadButton()->text() == "Stop";
        window->Timer1_Timer();
    });
    downloadButton()->click();
    EXPECT_TRUE(sawStop);
    EXPECT_EQ(status(), "Finished. Data in File");
    for (const QByteArray& frame : world.frames()) {
        EXPECT_FALSE(isLineRead(frame));
        EXPECT_FALSE(isFunction(frame, 16));
    }
    EXPECT_EQ(keys().text(), "1");
}

TEST_F(WindowWiring, DownloadClickedDuringATickStartsWhenTheTickHasEnded) {
    tabs()->setCurrentIndex(3);
    bool clicked = false;
    bool disabledWhileWaiting = false;
    world.pump.setHook([&] {
        if (!clicked) {
            clicked = true;
            child<QPushButton>("Command2")->click();
            disabledWhileWaiting = !child<QPushButton>("Command2")->isEnabled();
        }
    });
    window->Timer1_Timer();
    EXPECT_TRUE(disabledWhileWaiting);
    EXPECT_EQ(status(), "Finished. Data in File");
    const std::vector<QByteArray> frames = world.frames();
    ASSERT_GT(frames.size(), 5u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(isLineRead(frames[i])) << i;
    EXPECT_EQ(frames[4], QByteArray::fromHex("0103004c000885db")); // the logger state
}

TEST_F(WindowWiring, ClosingDuringATickClosesWhenItHasReturned) {
    tabs()->setCurrentIndex(3);
    bool visibleAfterClose = false;
    world.pump.setHook([&] {
        if (world.frames().size() == 1 && saves.empty() && !visibleAfterClose) {
            window->close();
            visibleAfterClose = window->isVisible();
        }
    });
    window->Timer1_Timer();
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(timer()->isActive());
    EXPECT_EQ(saves, std::vector<bool>{true});
    EXPECT_EQ(world.frames().size(), 1u);  // the rest of the tick was stopped
    EXPECT_TRUE(questionsAsked.isEmpty()); // a tick loses nothing worth asking about
    window->close();
    EXPECT_EQ(saves.size(), 1u);
}

TEST_F(WindowWiring, ExitDuringADownloadStopsItAfterTheTransactionAndSavesOnce) {
    QFile earlier(dir.filePath("log.csv"));
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier download\r\n");
    earlier.close();
    world.pump.setHook([&] {
        if (world.frames().size() == 3)
            window->findChild<QAction*>("File_mnu")->trigger();
    });
    child<QPushButton>("Command2")->click();
    EXPECT_EQ(saves, std::vector<bool>{true});
    EXPECT_EQ(statusAtSave, "Download stopped");
    EXPECT_EQ(world.frames().size(), 3u); // the transaction in progress ended, no further one
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), "earlier download\r\n");
    window->close();
    EXPECT_EQ(saves.size(), 1u);
}

TEST_F(WindowWiring, ClosingDuringADownloadFromASilentMeterWaitsOnlyForOneTransaction) {
    world.intercept = [](const QByteArray&) {
        return std::optional<std::vector<MeterReply>>(std::vector<MeterReply>{});
    };
    double closedAt = -1;
    world.pump.setHook([&] {
        if (closedAt < 0 && world.frames().size() == 1) {
            closedAt = world.clock.secondsSinceMidnight();
            window->close();
        }
    });
    child<QPushButton>("Command2")->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(saves, std::vector<bool>{true});
    // One function-3 wait (three sends, about three seconds), not the whole download.
    EXPECT_LT(world.clock.secondsSinceMidnight() - closedAt, 4.5);
}

struct StopCase {
    const char* name;
    int atBlock; // of 3
    bool byEsc;
};

class WindowStop : public WindowWiring, public ::testing::WithParamInterface<StopCase> {};

TEST_P(WindowStop, EndsTheWaitInProgressAndLeavesTheEarlierFile) {
    world.meter.setLog(logOf(300)); // three log blocks
    writeEarlierCsv();
    window->activateWindow(); // Esc is the active window's
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    size_t framesAtStop = 0;
    world.pump.setHook([&] {
        if (framesAtStop > 0 || logBlockReads() < GetParam().atBlock)
            return;
        framesAtStop = world.frames().size();
        EXPECT_EQ(downloadButton()->text(), "Stop");
        EXPECT_TRUE(downloadButton()->isEnabled());
        if (GetParam().byEsc)
            QTest::keyClick(window.get(), Qt::Key_Escape);
        else
            downloadButton()->click();
    });
    downloadButton()->click();
    ASSERT_GT(framesAtStop, 0u);
    EXPECT_EQ(status(), "Download stopped");
    // A stop asked for is no failure to explain in red.
    EXPECT_EQ(window->findChild<QLabel*>("DownloadReason")->text(), "");
    EXPECT_EQ(world.frames().size(), framesAtStop); // nothing after the wait that was stopped
    EXPECT_EQ(csv(), "earlier download\r\n");
    EXPECT_EQ(downloadButton()->text(), "Download Data");
    EXPECT_TRUE(downloadButton()->isEnabled());
    EXPECT_TRUE(window->isVisible());
    // The rows read stay in view, marked on the View and Chart tabs as not the whole log
    // and not saved.
    const QString notSaved = window->findChild<QLabel*>("ViewNotSaved")->text();
    EXPECT_FALSE(window->findChild<QLabel*>("ViewNotSaved")->isHidden());
    EXPECT_TRUE(notSaved.startsWith("Not saved: these ") &&
                notSaved.endsWith(" rows were read before the download was stopped, and are not "
                                  "the whole log. The CSV file is as it was."))
        << notSaved.toStdString();
    EXPECT_TRUE(window->findChild<QLabel*>("ChartSource")->text().contains("not saved"));

    // The next transaction takes the meter's own answer, not the rest of the stopped one;
    // and Esc with no download stops nothing, not even a display tick.
    world.pump.setHook({});
    tabs()->setCurrentIndex(3);
    world.pump.setHook([&] { QTest::keyClick(window.get(), Qt::Key_Escape); });
    window->Timer1_Timer();
    EXPECT_EQ(line(0)->text(), "SIMULATED METER     ");
}

INSTANTIATE_TEST_SUITE_P(Window, WindowStop,
                         ::testing::Values(StopCase{"ButtonInTheMiddleBlock", 2, false},
                                           StopCase{"EscInTheLastBlock", 3, true}),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                             return std::string(info.param.name);
                         });

struct QuestionCase {
    const char* name;
    bool byExit;
    std::optional<bool> answer; // none: the download ends first
};

class StopQuestion : public WindowWiring, public ::testing::WithParamInterface<QuestionCase> {};

TEST_P(StopQuestion, IsAskedOnceWhileTheDownloadGoesOn) {
    const QuestionCase c = GetParam();
    world.meter.setLog(logOf(300));
    writeEarlierCsv();
    answerAtOnce.reset();
    std::function<void(bool)> answerOfTheQuestion;
    world.pump.setHook([&] {
        if (questionsAsked.isEmpty() && logBlockReads() == 1) {
            for (int twice = 0; twice < 2; ++twice) {
                if (c.byExit)
                    window->findChild<QAction*>("File_mnu")->trigger();
                else
                    window->close();
            }
            answerOfTheQuestion = shownAnswer;
        } else if (shownAnswer && c.answer && logBlockReads() == 2) {
            shownAnswer(*c.answer);
        }
    });
    downloadButton()->click();
    EXPECT_EQ(questionsAsked, QStringList{"A download is running. Stop it and quit?"});
    EXPECT_GE(logBlockReads(), 2); // the download went on while the question was shown

    if (c.answer == true) {
        EXPECT_EQ(logBlockReads(), 2);
        EXPECT_EQ(saves, std::vector<bool>{true});
        EXPECT_EQ(statusAtSave, "Download stopped");
        EXPECT_EQ(csv(), "earlier download\r\n");
        EXPECT_FALSE(window->isVisible());
        return;
    }
    EXPECT_EQ(status(), "Finished. Data in File");
    EXPECT_NE(csv(), "earlier download\r\n");
    EXPECT_TRUE(saves.empty());
    EXPECT_TRUE(window->isVisible());
    // A question the download outlived is taken away, and a late answer does nothing.
    EXPECT_EQ(questionWithdrawn, !c.answer.has_value());
    answerOfTheQuestion(true);
    EXPECT_TRUE(saves.empty());
    EXPECT_TRUE(window->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Window, StopQuestion,
                         ::testing::Values(QuestionCase{"CloseAnsweredYes", false, true},
                                           QuestionCase{"ExitAnsweredNo", true, false},
                                           QuestionCase{"CloseUnansweredWhenTheDownloadEnds", false,
                                                        std::nullopt}),
                         [](const ::testing::TestParamInfo<QuestionCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace meterlink
