#include "app/dwn_load1.h"
#include "app/window_jobs.h"
#include "logger/grid_model.h"
#include "modbus/modbus_link.h"
#include "platform/locked_serial_port.h"
#include "platform/make_serial_port.h"
#include "platform/qt_event_pump.h"
#include "platform/settings_endpoint.h"
#include "platform/system_clock.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

const char kHelp[] =
    "Usage: meterlink [--help] [--version] [Qt's own options, e.g. -platform NAME]\n"
    "\n"
    "Mirrors a flow meter's front panel and downloads its logged records into a grid\n"
    "and a CSV file, over a serial line (Modbus RTU). The settings file 6040dwn.ini and\n"
    "the CSV file Logdata.csv are kept in the folder meterlink is started from.\n"
    "\n"
    "  --help     this help\n"
    "  --version  print the version\n"
    "\n"
    "meterlink-cli does the same without a window, for scripts and scheduled jobs;\n"
    "meterlink-sim is a simulated meter to try it without hardware.\n"
    "\n"
    "The manual: man meterlink\n";

// Answered before the window's application exists, so that neither needs a display.
int conventionalAnswer(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("meterlink " METERLINK_VERSION "\n", stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (const int status = conventionalAnswer(argc, argv); status >= 0)
        return status;
    QApplication app(argc, argv);
    // One of each, alive for the whole run and built here, as meterlink-cli builds its own;
    // the window borrows them.
    meterlink::Settings settings;
    const std::unique_ptr<meterlink::SerialPort> systemPort = meterlink::makeSerialPort();
    // The line's lock from the first open to the end of the run, as meterlink-cli holds it.
    meterlink::LockedSerialPort port(*systemPort);
    meterlink::SystemClock clock;
    meterlink::QtEventPump pump;
    meterlink::pairPumpWithPort(pump, *systemPort);
    meterlink::ModbusLink link(port, clock, pump,
                               [&settings] { return meterlink::settingsEndpoint(settings); });
    meterlink::GridModel grid;
    meterlink::WindowJobs jobs(link, pump, settings, grid);
    meterlink::DwnLoad1 window(jobs, meterlink::SettingsFile(QStringLiteral(".")));
    window.show();
    return app.exec();
}
