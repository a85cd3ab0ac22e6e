#include "platform/locked_serial_port.h"

namespace meterlink {

bool LockedSerialPort::open() {
    refusal_.clear();
    if (port_.isOpen())
        return true;
    const QString key = PortLock::keyOf(device_);
    if (key.isEmpty() || key != lock_.heldKey()) {
        QString why;
        // A lock file that cannot be used does not keep the line closed: the exclusive open
        // still guards it against every other user but root.
        if (lock_.tryLock(device_, &why) == PortLock::HeldByAnother) {
            refusal_ = why;
            return false;
        }
    }
    return port_.open();
}

} // namespace meterlink
