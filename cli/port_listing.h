#pragma once

#include "settings/serial_port_name.h"

#include <QString>

namespace meterlink {

// What `meterlink-cli ports` prints: every serial port found with its description, then the
// device each of Comm1…Comm4 reaches.
QString portListing(const QList<FoundPort>& found, const CommTargets& targets);

} // namespace meterlink
