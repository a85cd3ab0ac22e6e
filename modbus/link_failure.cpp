#include "modbus/link_failure.h"

namespace meterlink {

namespace {

QString exceptionName(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("illegal function");
    case 2:
        return QStringLiteral("illegal data address");
    case 3:
        return QStringLiteral("illegal data value");
    case 4:
        return QStringLiteral("slave device failure");
    case 5:
        return QStringLiteral("acknowledge");
    case 6:
        return QStringLiteral("slave device busy");
    default:
        return QString();
    }
}

} // namespace

QString describe(const LinkFailure& f) {
    switch (f.fault) {
    case LinkFault::None:
        return QString();
    case LinkFault::PortNotOpened:
        return QStringLiteral("Port %1 not opened: %2")
            .arg(f.device.isEmpty() ? QStringLiteral("(none)") : f.device,
                 f.osReason.isEmpty() ? QStringLiteral("unknown reason") : f.osReason);
    case LinkFault::DeviceGone:
        return QStringLiteral("The serial adapter %1 disappeared (unplugged?) and did not come "
                              "back within %2 s")
            .arg(f.device)
            .arg(rideOutSeconds);
    case LinkFault::BadSlave:
        return f.slave == 0
                   ? QStringLiteral("No request sent: slave ID 0 is the Modbus broadcast "
                                    "address, which no meter answers; enter the meter's own "
                                    "slave ID (1 to 255)")
                   : QStringLiteral("No request sent: slave ID %1 is no Modbus address; a "
                                    "meter's slave ID lies between 1 and 255")
                         .arg(f.slave);
    case LinkFault::BadArgument:
        return QStringLiteral("Function %1 request not sent: a value does not fit its frame byte")
            .arg(f.functionCode);
    case LinkFault::Busy:
        return QStringLiteral("Function %1 request not sent: another transaction is in progress")
            .arg(f.functionCode);
    case LinkFault::Stopped:
        return f.sends == 0 ? QStringLiteral("Stopped before the function %1 request was sent")
                                  .arg(f.functionCode)
                            : QStringLiteral("Stopped while waiting for the answer from slave %1")
                                  .arg(f.slave);
    case LinkFault::Refused: {
        const QString name = exceptionName(f.exceptionCode);
        return name.isEmpty()
                   ? QStringLiteral("Slave %1 refused the function %2 request (exception code %3)")
                         .arg(f.slave)
                         .arg(f.functionCode)
                         .arg(f.exceptionCode)
                   : QStringLiteral("Slave %1 refused the function %2 request: %3 (exception "
                                    "code %4)")
                         .arg(f.slave)
                         .arg(f.functionCode)
                         .arg(name)
                         .arg(f.exceptionCode);
    }
    case LinkFault::NoAnswer: {
        // Not one send went out: the port refused the request, so the meter never heard it.
        if (f.sends == 0) {
            return QStringLiteral("The function %1 request to slave %2 could not be written%3")
                .arg(f.functionCode)
                .arg(f.slave)
                .arg(f.osReason.isEmpty() ? QString() : QStringLiteral(": ") + f.osReason);
        }
        QString text = QStringLiteral("No answer from slave %1 at %2 baud after %3 %4")
                           .arg(f.slave)
                           .arg(f.baud)
                           .arg(f.sends)
                           .arg(f.sends == 1 ? QStringLiteral("send") : QStringLiteral("sends"));
        if (!f.osReason.isEmpty()) {
            text += QStringLiteral("; write failed: ") + f.osReason;
        }
        return text;
    }
    case LinkFault::AnswerStopped:
        return QStringLiteral(
                   "The answer from slave %1 broke off after %2 %3: loose cable, wrong speed or "
                   "noise?")
            .arg(f.slave)
            .arg(f.bytesTaken)
            .arg(f.bytesTaken == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"));
    case LinkFault::CrcMismatch:
        return QStringLiteral("CRC mismatch in the answer from slave %1").arg(f.slave);
    }
    return QStringLiteral("Unknown link failure");
}

} // namespace meterlink
