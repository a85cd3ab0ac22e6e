#pragma once

#include "sim/meter_log.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace meterlink {

// The log and names a meter answered to a download, from a log image that meterlink-cli
// download --image kept, so that the simulator serves the same answers again. Read here
// from the documented layout on its own, so that it checks the writer.
std::optional<MeterLog> meterLogFromImage(const QByteArray& image, QString* why);

} // namespace meterlink
