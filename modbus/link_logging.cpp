#include "modbus/link_logging.h"

namespace meterlink {

// Frames are for reading a field problem after the fact: off unless asked for with
// QT_LOGGING_RULES="meterlink.link.debug=true".
Q_LOGGING_CATEGORY(lcLink, "meterlink.link", QtWarningMsg)

} // namespace meterlink
