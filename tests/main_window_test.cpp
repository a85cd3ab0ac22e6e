#include "app/dwn_load1.h"
#include "platform/serial_port_search.h"
#include "window_test_world.h"
#include "wired_window.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include "qt_application_environment.h"

#include <gtest/gtest.h>

#include <memory>

namespace meterlink {
namespace {

[[maybe_unused]] ::testing::Environment* const qtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

const QByteArray kDefaultBytes = "[Commport]=1\r\n[CommBaud]=38400\r\n[CommFlow]=Hardware\r\n"
                                 "[CommSlaveID]=001\r\n[DownloadSaveFile]=Logdata.csv\r\n";

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString iniPath() const { return QDir(dir.path()).filePath(kSettingsFileName); }

    void writeIni(const QByteArray& bytes) {
        QFile file(iniPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray readIni() const {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    DwnLoad1& open() {
        window = std::make_unique<WiredWindow>(
            settings, SettingsFile(dir.path()), world.link, world.pump, world.grid,
            [this](QWidget*, const SaveFileRequest& request) -> std::optional<QString> {
                lastRequest = request;
                ++dialogsShown;
                return dialogAnswer;
            });
        QObject::connect(window.get(), &DwnLoad1::settingsSaved,
                         [this](bool written) { saves.push_back(written); });
        return *window;
    }

    template <typename T> T* child(const char* name) const {
        T* found = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    bool checked(const char* name) const { return child<QRadioButton>(name)->isChecked(); }
    QString text(const char* name) const { return child<QLineEdit>(name)->text(); }

    QTemporaryDir dir;
    Settings settings;
    WindowLinkWorld world{settings};
    std::unique_ptr<DwnLoad1> window;
    std::optional<QString> dialogAnswer;
    SaveFileRequest lastRequest;
    int dialogsShown = 0;
    std::vector<bool> saves;
};

TEST_F(MainWindowTest, FirstStartCreatesTheDefaultFileAndPutsTheDefaultsInForce) {
    open();
    EXPECT_EQ(readIni(), kDefaultBytes);
    EXPECT_TRUE(checked("Option2_0"));
    EXPECT_TRUE(checked("Option1_6"));
    EXPECT_TRUE(checked("Option3_1"));
    EXPECT_EQ(text("Text1"), "001");
    EXPECT_EQ(text("Text2"), "Logdata.csv");
    EXPECT_EQ(settings.PortNumber, 1);
    EXPECT_EQ(settings.BaudText, "38400");
    EXPECT_EQ(settings.SlaveId, 1);
    EXPECT_EQ(settings.SaveFileName, "Logdata.csv");
    EXPECT_EQ(child<QTabWidget>("SSTab1")->currentIndex(), 0);
    EXPECT_FALSE(child<QTimer>("Timer1")->isActive());
    EXPECT_TRUE(saves.empty());
    EXPECT_EQ(world.port.openCount(), 0);
}

TEST_F(MainWindowTest, StartReadsTheFileIntoControlsAndVariables) {
    writeIni("[Commport]=3\r\n[CommBaud]=9600\r\n[CommHandshaking]=none\r\n"
             "[CommSlaveID]=017\r\n[DownloadSaveFile]=/srv/log=1.csv\r\n");
    open();
    EXPECT_TRUE(checked("Option2_2"));
    EXPECT_TRUE(checked("Option1_3"));
    EXPECT_TRUE(checked("Option3_1")); // the flow choice is never read back
    EXPECT_EQ(text("Text1"), "017");
    EXPECT_EQ(text("Text2"), "/srv/log=1.csv");
    EXPECT_EQ(settings.PortNumber, 3);
    EXPECT_EQ(settings.BaudText, "9600");
    EXPECT_EQ(settings.SlaveId, 17);
    EXPECT_EQ(settings.SaveFileName, "/srv/log=1.csv");
}

TEST_F(MainWindowTest, LinesWithoutTheirKeysLeaveVariablesAgreeingWithTheControls) {
    writeIni("port\r\nbaud\r\nflow\r\nslave\r\nfile\r\n");
    open();
    EXPECT_TRUE(checked("Option2_0"));
    EXPECT_EQ(settings.PortNumber, 1);
    EXPECT_TRUE(checked("Option1_6"));
    EXPECT_EQ(settings.BaudText, "38400");
    EXPECT_EQ(text("Text1"), "001");
    EXPECT_EQ(settings.SlaveId, 1);
    EXPECT_EQ(settings.SaveFileName, "Logdata.csv");
    EXPECT_EQ(readIni(), "port\r\nbaud\r\nflow\r\nslave\r\nfile\r\n"); // reading changes nothing
}

TEST_F(MainWindowTest, OptionClicksUpdatePortAndBaud) {
    open();
    child<QRadioButton>("Option2_3")->click();
    EXPECT_EQ(settings.PortNumber, 4);
    child<QRadioButton>("Option2_1")->click();
    EXPECT_EQ(settings.PortNumber, 2);
    child<QRadioButton>("Option1_0")->click();
    EXPECT_EQ(settings.BaudText, "1200");
    child<QRadioButton>("Option1_4")->click();
    EXPECT_EQ(settings.BaudText, "14400");
    window->Option1_Click(7);
    window->Option2_Click(-1);
    EXPECT_EQ(settings.BaudText, "14400");
    EXPECT_EQ(settings.PortNumber, 2);
}

TEST_F(MainWindowTest, SlaveIdFollowsTheLeadingNumberOfItsText) {
    open();
    auto* box = child<QLineEdit>("Text1");
    const std::pair<const char*, int> cases[] = {{"247", 247},    {" 12abc", 12}, {"", 0},
                                                 {"abc", 0},      {"2.5", 2},     {"3.5", 4},
                                                 {"70000", 32767}};
    for (const auto& [typed, id] : cases) {
        box->setText(QString::fromLatin1(typed));
        EXPECT_EQ(settings.SlaveId, id) << '"' << typed << '"';
        EXPECT_EQ(box->text(), QString::fromLatin1(typed));
    }
}

TEST_F(MainWindowTest, FileNameTextIsTheSaveFileName) {
    open();
    child<QLineEdit>("Text2")->setText("run 7.csv");
    EXPECT_EQ(settings.SaveFileName, "run 7.csv");
}

TEST_F(MainWindowTest, CancelledDialogChangesNothing) {
    open();
    child<QLineEdit>("Text2")->setText("keep.csv");
    window->Command3_Click();
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_EQ(lastRequest.title, "Download FileName");
    EXPECT_EQ(lastRequest.initialName, "LogData.csv");
    EXPECT_EQ(lastRequest.filter, "*.csv");
    EXPECT_EQ(text("Text2"), "keep.csv");
    EXPECT_EQ(settings.SaveFileName, "keep.csv");
}

TEST_F(MainWindowTest, AcceptedDialogSetsTextAndFileNameToTheFullPathWithAnExtension) {
    open();
    child<QLineEdit>("Text2")->setText("/srv/meter/old.csv");
    const std::pair<const char*, const char*> answers[] = {
        {"/home/tech/logs/site 4.csv", "/home/tech/logs/site 4.csv"},
        {"/home/tech/logs/site 5", "/home/tech/logs/site 5.csv"},
        {"/home/tech/v1.2/run", "/home/tech/v1.2/run.csv"},
        {"/home/tech/logs/site.txt", "/home/tech/logs/site.txt"}};
    for (const auto& [answer, kept] : answers) {
        const QString folderBefore = QFileInfo(settings.SaveFileName).absolutePath();
        dialogAnswer = QString::fromUtf8(answer);
        child<QPushButton>("Command3")->click();
        EXPECT_EQ(lastRequest.folder, folderBefore) << answer;
        EXPECT_EQ(text("Text2"), kept);
        EXPECT_EQ(settings.SaveFileName, kept);
    }
    EXPECT_EQ(dialogsShown, 4);
}

TEST_F(MainWindowTest, ClosingSavesTheControlsOnce) {
    open();
    child<QRadioButton>("Option2_2")->click();
    child<QRadioButton>("Option1_3")->click();
    child<QRadioButton>("Option3_0")->click();
    child<QLineEdit>("Text1")->setText("17");
    child<QLineEdit>("Text2")->setText("/data/x=y.csv");
    window->show();
    window->close();
    window->close();
    EXPECT_EQ(saves, std::vector<bool>{true});
    EXPECT_EQ(readIni(), "[Commport]=3\r\n[CommBaud]=9600\r\n[CommHandshaking]=none\r\n"
                         "[CommSlaveID]=17\r\n[DownloadSaveFile]=/data/x=y.csv\r\n");
}

TEST_F(MainWindowTest, PastedLineEndsAreDroppedFromSlaveIdAndFileName) {
    open();
    for (const char* name : {"Text1", "Text2"})
        child<QLineEdit>(name)->selectAll();
    child<QLineEdit>("Text1")->insert("17\r\n"); // as a pasted spreadsheet cell
    child<QLineEdit>("Text2")->insert("/data/\rx.csv\n");
    EXPECT_EQ(text("Text1"), "17");
    EXPECT_EQ(text("Text2"), "/data/x.csv");
    EXPECT_EQ(settings.SlaveId, 17);
    EXPECT_EQ(settings.SaveFileName, "/data/x.csv");
}

TEST_F(MainWindowTest, ExitSavesOnceAndNoCloseSavesAgain) {
    open();
    window->show();
    child<QLineEdit>("Text1")->setText("001");
    window->findChild<QAction*>("File_mnu")->trigger();
    EXPECT_EQ(saves.size(), 1u);
    window->close();
    EXPECT_EQ(saves.size(), 1u);
    EXPECT_EQ(readIni(), "[Commport]=1\r\n[CommBaud]=38400\r\n[CommHandshaking]=Hardware\r\n"
                         "[CommSlaveID]=001\r\n[DownloadSaveFile]=Logdata.csv\r\n");
}

TEST_F(MainWindowTest, UnusableSettingsFileStartsOnDefaultsAndAsksBeforeClosing) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(kSettingsFileName));
    open();
    EXPECT_EQ(settings.PortNumber, 1);
    EXPECT_EQ(settings.SlaveId, 1);
    std::vector<QString> questions;
    bool closeAnyway = false;
    window->setCloseAnywayQuestion([&](QWidget*, const QString& question) {
        questions.push_back(question);
        return closeAnyway;
    });
    window->show();
    EXPECT_FALSE(window->close()); // "No": the window stays
    EXPECT_TRUE(window->isVisible());
    closeAnyway = true;
    EXPECT_TRUE(window->close());
    EXPECT_EQ(saves, (std::vector<bool>{false, false}));
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_TRUE(questions[0].contains(QDir::toNativeSeparators(iniPath())))
        << questions[0].toStdString();
    EXPECT_TRUE(questions[0].contains("irectory"))
        << questions[0].toStdString(); // what the system said
}

TEST_F(MainWindowTest, PortToolTipFollowsALinkMadeAfterStart) {
    open();
    window->show();
    auto* comm2 = child<QRadioButton>("Option2_1");
    EXPECT_EQ(comm2->toolTip(), describeTarget(currentCommTargets(dir.path())[1]));
    EXPECT_FALSE(comm2->toolTip().startsWith("/dev/ttyUSB7"));
    ASSERT_TRUE(QFile::link("/dev/ttyUSB7", QDir(dir.path()).filePath("com2")));
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), comm2->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(comm2, &hover);
    // No such adapter here: the choice is marked, not taken for working.
    EXPECT_EQ(comm2->toolTip(), "/dev/ttyUSB7 — not there (named by a link in this folder)");
}

TEST_F(MainWindowTest, GridShowsTheHeadingRowAndColumnAsHeadingsAcrossClears) {
    open();
    auto* grid = child<QTableView>("MSHFlexGrid1");
    EXPECT_EQ(grid->model()->rowCount(), 16384);
    EXPECT_EQ(grid->model()->columnCount(), 10);

    world.grid.setTextMatrix(1, 2, "Flow");
    world.grid.setTextMatrix(5, 0, "4");
    EXPECT_EQ(grid->model()->headerData(2, Qt::Horizontal).toString(), "Flow");
    EXPECT_EQ(grid->model()->headerData(5, Qt::Vertical).toString(), "4");
    world.grid.Clear(); // may reset the model, which forgets hidden sections
    // The blank fixed row and the heading row are shown only as the headings.
    EXPECT_TRUE(grid->isRowHidden(0));
    EXPECT_TRUE(grid->isRowHidden(1));
    EXPECT_TRUE(grid->isColumnHidden(0));
    EXPECT_FALSE(grid->isRowHidden(2));

    window->setGridColumnWidth(0, 77);
    window->setGridColumnWidth(3, 55);
    EXPECT_EQ(window->gridColumnWidth(0), 77);
    EXPECT_EQ(window->gridColumnWidth(3), 55);
}

} // namespace
} // namespace meterlink
