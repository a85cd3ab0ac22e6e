#pragma once

#include <QLoggingCategory>

namespace meterlink {

// Frames in hex, for reading a field problem after the fact ("meterlink.link.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcLink)

} // namespace meterlink
