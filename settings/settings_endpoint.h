#pragma once

#include "modbus/link_endpoint.h"
#include "settings/settings.h"

namespace meterlink {

// What the settings variables tell the link to open: the device PortNumber names (see
// serialDeviceName) at the leading number of BaudText.
LinkEndpoint settingsEndpoint(const Settings& settings,
                              const QString& directory = QStringLiteral("."));

} // namespace meterlink
