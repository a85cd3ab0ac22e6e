#include "app/dwn_load1.h"
#include "logger/grid_model.h"
#include "modbus/modbus_link.h"
#include "platform/locked_serial_port.h"
#include "platform/make_serial_port.h"
#include "platform/qt_event_pump.h"
#include "platform/system_clock.h"
#include "settings/settings.h"
#include "settings/settings_endpoint.h"
#include "settings/settings_file.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // One of each, alive for the whole run; the window borrows them.
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
    meterlink::DwnLoad1 window(settings, meterlink::SettingsFile(QStringLiteral(".")), link, pump,
                               grid);
    window.show();
    return app.exec();
}
