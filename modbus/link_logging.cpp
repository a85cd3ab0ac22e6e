#include "modbus/link_logging.h"

namespace meterlink {

Q_LOGGING_CATEGORY(lcLink, "meterlink.link")

} // namespace meterlink
