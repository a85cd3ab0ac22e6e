#pragma once

#include "settings/settings_controls.h"

#include <QList>
#include <QString>

#include <array>

namespace meterlink {

// A serial port the system reports.
struct FoundPort {
    QString device;      // what opens it: "/dev/ttyUSB0", "COM5"
    QString description; // the driver's words for it: "FT232R USB UART"
    QString stableName;  // a name that survives replugging ("/dev/serial/by-id/…"); may be empty
    bool usb = false;    // an adapter rather than an on-board port
};

enum class PortNaming { Windows, Unix };

// What one port option reaches.
struct CommTarget {
    QString device;      // empty when nothing is left for it
    QString description; // of the port found, empty for a link or a missing port
    bool linked = false; // named by a comN link in the current folder
    bool found = false;  // the system reports this device (or the link names one)
};

using CommLinks = std::array<QString, kPortOptionCount>;
using CommTargets = std::array<CommTarget, kPortOptionCount>;

// The device each of Comm1…Comm4 reaches, from the ports found (platform/serial_port_search
// asks the system). A comN link wins (links[N-1]: the device it names,
// empty where there is none); else port N when the system has it (COMn, or /dev/ttyS(N-1),
// which the system lists only where that UART exists); the ports left fill the options left,
// on-board ports first, then adapters by stable name. No two options reach the same device,
// unless links say so.
CommTargets resolveCommPorts(const QList<FoundPort>& found, const CommLinks& links,
                             PortNaming naming);

// The classic name of port option CommN: COMn, or /dev/ttyS(N-1).
QString numberedPort(int portNumber, PortNaming naming);

// "/dev/ttyUSB0 — FT232R USB UART", as the tooltip and `meterlink-cli ports` show a target.
QString describeTarget(const CommTarget& target);

} // namespace meterlink
