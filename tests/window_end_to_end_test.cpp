// The real window with the real serial port, clock and event pump, against meterlink-sim on
// a pseudo-terminal linked as com1 in a temporary current directory.
#include "app/dwn_load1.h"
#include "display/display_panel.h"
#include "logger/grid_model.h"
#include "modbus/modbus_link.h"
#include "platform/locked_serial_port.h"
#include "platform/make_serial_port.h"
#include "platform/qt_event_pump.h"
#include "platform/settings_endpoint.h"
#include "platform/system_clock.h"
#include "wired_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include "qt_application_environment.h"
#include "tests/built_program.h"

#include <gtest/gtest.h>

#include <memory>

namespace meterlink {
namespace {

[[maybe_unused]] ::testing::Environment* const qtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

constexpr int kGenerousMs = 30000;

class WindowAgainstSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        previousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        qputenv("METERLINK_LOCK_DIR", QFile::encodeName(dir.path()));
        startSimulator({});
    }

    void TearDown() override {
        window.reset();
        if (sim.state() != QProcess::NotRunning) {
            sim.terminate(); // SIGTERM to its own PID
            if (!sim.waitForFinished(kGenerousMs))
                sim.kill();
        }
        QDir::setCurrent(previousDir);
    }

    void startSimulator(const QStringList& extra) {
        QFile scenario(dir.filePath("plain.scn"));
        ASSERT_TRUE(scenario.open(QIODevice::WriteOnly));
        scenario.write("display-mode plain\n");
        scenario.close();
        sim.setProgram(builtProgram("meterlink-sim"));
        sim.setArguments(QStringList{"--link", dir.filePath("com1"), "--scenario",
                                     scenario.fileName(), "--records", "25"} +
                         extra);
        sim.setWorkingDirectory(dir.path());
        sim.start();
        ASSERT_TRUE(sim.waitForStarted(kGenerousMs)) << sim.errorString().toStdString();
        // The ready line, not a pause: the link exists once it is printed.
        ASSERT_TRUE(QTest::qWaitFor([this] { return sim.canReadLine(); }, kGenerousMs));
        const QByteArray ready = sim.readLine();
        ASSERT_TRUE(ready.startsWith("meterlink-sim ready: ")) << ready.toStdString();
    }

    void openWindow() {
        pairPumpWithPort(pump, *serialPort);
        window = std::make_unique<WiredWindow>(settings, SettingsFile(QStringLiteral(".")), link,
                                               pump, grid);
        window->show();
    }

    template <typename T> T* child(const QString& name) const {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    QLineEdit* line(int n) const { return child<QLineEdit>(QStringLiteral("Text4_%1").arg(n)); }

    QTemporaryDir dir;
    QString previousDir;
    QProcess sim;
    Settings settings;
    // The port and pump as the window's program builds them.
    std::unique_ptr<SerialPort> serialPort = makeSerialPort();
    LockedSerialPort port{*serialPort};
    SystemClock clock;
    QtEventPump pump;
    ModbusLink link{port, clock, pump, [this] { return settingsEndpoint(settings); }};
    GridModel grid;
    std::unique_ptr<DwnLoad1> window;
};

TEST_F(WindowAgainstSimulator, DisplayTabMirrorsTheMeterAndKeysArriveOnePerTick) {
    openWindow();
    child<QTabWidget>("SSTab1")->setCurrentIndex(DisplayPanel::DisplayTab);
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return line(0)->text() == QLatin1String("SIMULATED METER     "); }, kGenerousMs));
    EXPECT_EQ(line(1)->text(), "Records 25          ");
    EXPECT_EQ(line(3)->text(), "Keys:               ");

    QStringList seen;
    QObject::connect(line(3), &QLineEdit::textChanged,
                     [&](const QString& text) { seen << text.trimmed(); });
    // "1" to "9", then "0": buttons 0, 1, 2, 4, 5, 6, 8, 9, 10, 13.
    for (int button : {0, 1, 2, 4, 5, 6, 8, 9, 10, 13})
        child<QPushButton>(QStringLiteral("Command1_%1").arg(button))->click();

    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return line(3)->text() == QLatin1String("Keys: 1234567890    "); }, kGenerousMs))
        << seen.join(QLatin1Char('|')).toStdString();
    // One key a tick: every change of the line adds exactly one key.
    const QString all = QStringLiteral("1234567890");
    ASSERT_EQ(seen.size(), 10) << seen.join(QLatin1Char('|')).toStdString();
    for (int i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], QStringLiteral("Keys: ") + all.left(i + 1));
    EXPECT_TRUE(window->displayPanel().keyBuffer().isEmpty());

    window->close();
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("6040dwn.ini"))));
}

TEST_F(WindowAgainstSimulator, DownloadStoresTheMetersRecords) {
    openWindow();
    child<QPushButton>("Command2")->click();
    EXPECT_EQ(child<QLabel>("Label4")->text(), "Finished. Data in File");
    QFile csv(dir.filePath("Logdata.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_TRUE(csv.readLine().startsWith("Date / Time,"));
}

// The adapter pulled out during a download and back 2.5 s later under the com1 link the
// Comm1 choice resolved to: the download completes as an undisturbed one does.
TEST_F(WindowAgainstSimulator, DownloadRidesOutAnUnplugUnderTheCommLink) {
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(kGenerousMs));
    startSimulator({"--records", "300", "--unplug", "5:2.5"});
    openWindow();
    QByteArray csv[2];
    for (QByteArray& bytes : csv) {
        child<QPushButton>("Command2")->click();
        EXPECT_EQ(child<QLabel>("Label4")->text(), "Finished. Data in File")
            << child<QLabel>("DownloadReason")->text().toStdString();
        QFile file(dir.filePath("Logdata.csv"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        bytes = file.readAll();
    }
    EXPECT_EQ(csv[0], csv[1]); // the second, undisturbed
    EXPECT_GT(csv[0].count('\n'), 50);
}

// Another program on the line (here a lock of this process's own): the download does not
// start, and the reason names the holder.
TEST_F(WindowAgainstSimulator, ALineHeldByAnotherProgramIsTheDownloadsFailureReason) {
    PortLock holder;
    QString why;
    ASSERT_EQ(holder.tryLock(dir.filePath("com1"), &why), PortLock::Locked) << why.toStdString();
    openWindow();
    child<QPushButton>("Command2")->click();
    EXPECT_EQ(child<QLabel>("Label4")->text(), "Error in Downloading!!");
    EXPECT_TRUE(child<QLabel>("DownloadReason")
                    ->text()
                    .contains(QStringLiteral("the port is in use by window_end_to_end_test, pid %1")
                                  .arg(QCoreApplication::applicationPid())))
        << child<QLabel>("DownloadReason")->text().toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("Logdata.csv")));

    holder.release();
    child<QPushButton>("Command2")->click();
    EXPECT_EQ(child<QLabel>("Label4")->text(), "Finished. Data in File");
}

} // namespace
} // namespace meterlink
