#pragma once

#include "settings/serial_port_name.h"

#include <QList>
#include <QString>

namespace meterlink {

// The serial ports this system has now.
QList<FoundPort> findSerialPorts();
// The devices the comN links in `directory` name (none on Windows).
CommLinks findCommLinks(const QString& directory);
// resolveCommPorts over what the system has now.
CommTargets currentCommTargets(const QString& directory = QStringLiteral("."));

// What to open for port option CommN: the comN link itself where there is one, else the
// device the option reaches now.
QString serialDeviceName(int portNumber, const QString& directory = QStringLiteral("."));

} // namespace meterlink
