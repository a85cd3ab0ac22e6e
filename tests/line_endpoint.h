#pragma once

#include "modbus/link_endpoint.h"
#include "platform/settings_endpoint.h"
#include "settings/settings.h"

namespace meterlink {

// The in-memory line at the speed the settings give, as the programs ask for it.
inline EndpointSource lineAtSettingsSpeed(const Settings& settings) {
    // The device given spares the search of the system's ports.
    return [&settings] {
        return settingsEndpoint(settings, QStringLiteral("."), QStringLiteral("line"));
    };
}

} // namespace meterlink
