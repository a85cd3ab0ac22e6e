#include "platform/settings_endpoint.h"

#include "platform/serial_port_search.h"
#include "settings/numeric_value.h"

#include <cmath>

namespace meterlink {

namespace {

// The line speed a baud text stands for: its numeric value, 0 when that is no speed at all.
qint32 baudFromText(const QString& text) {
    const double value = std::nearbyint(numericValue(text));
    if (!std::isfinite(value) || value < 1 || value > 100000000) {
        return 0;
    }
    return qint32(value);
}

} // namespace

LinkEndpoint settingsEndpoint(const Settings& settings, const QString& directory,
                              const QString& device) {
    LinkEndpoint endpoint;
    endpoint.device = device.isEmpty() ? serialDeviceName(settings.PortNumber, directory) : device;
    endpoint.baud = baudFromText(settings.BaudText);
    if (endpoint.baud <= 0) {
        endpoint.unusable =
            QStringLiteral("baud rate \"%1\" is not a number").arg(settings.BaudText);
    }
    return endpoint;
}

} // namespace meterlink
