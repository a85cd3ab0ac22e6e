#pragma once

#include "modbus/link_endpoint.h"
#include "settings/settings.h"

namespace meterlink {

// What the settings variables tell the link to open: the device PortNumber names (see
// serialDeviceName) at the leading number of BaudText. A `device` given wins, and spares
// the search of the system's ports.
LinkEndpoint settingsEndpoint(const Settings& settings,
                              const QString& directory = QStringLiteral("."),
                              const QString& device = QString());

} // namespace meterlink
