// Drives the window as a technician would, without a screen: in the current folder, choose
// the baud rate given and Comm1 on the Settings tab, press "Download Data", close. Prints
// the status line (and its tooltip when the download failed); exits 0 only when the records
// were stored. The every-speed end-to-end test runs it as root and as an ordinary user.
#include "app/dwn_load1.h"
#include "app/window_jobs.h"
#include "logger/grid_model.h"
#include "modbus/modbus_link.h"
#include "platform/make_serial_port.h"
#include "platform/qt_event_pump.h"
#include "platform/settings_endpoint.h"
#include "platform/system_clock.h"
#include "settings/settings_controls.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <cstdio>

using namespace meterlink;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    int baudOption = -1;
    for (int i = 0; i < int(kBaudCaptions.size()); ++i)
        if (arguments.size() == 2 && arguments.at(1) == QLatin1String(kBaudCaptions[size_t(i)]))
            baudOption = i;
    if (baudOption < 0) {
        std::fprintf(stderr, "usage: window_download_driver BAUD (one of the Settings tab's)\n");
        return 64;
    }

    Settings settings;
    const std::unique_ptr<SerialPort> port = makeSerialPort();
    SystemClock clock;
    QtEventPump pump;
    pairPumpWithPort(pump, *port);
    ModbusLink link(*port, clock, pump, [&settings] { return settingsEndpoint(settings); });
    GridModel grid;
    WindowJobs jobs(link, pump, settings, grid); // as the program wires its window
    DwnLoad1 window(jobs, SettingsFile(QStringLiteral(".")));
    window.show();

    window.findChild<QRadioButton*>(QStringLiteral("Option1_%1").arg(baudOption))->click();
    window.findChild<QRadioButton*>(QStringLiteral("Option2_0"))->click();
    window.findChild<QPushButton*>(QStringLiteral("Command2"))->click();

    const QLabel* status = window.findChild<QLabel*>(QStringLiteral("Label4"));
    const bool stored = status->text() == QLatin1String("Finished. Data in File");
    std::printf("%s\n", qPrintable(status->text()));
    if (!stored)
        std::printf("%s\n", qPrintable(status->toolTip()));
    window.close();
    return stored ? 0 : 1;
}
