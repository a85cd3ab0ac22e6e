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

QString exceptionText(const LinkFailure& f) {
    if (f.exceptionCode < 0) {
        return QString();
    }
    const QString name = exceptionName(f.exceptionCode);
    return name.isEmpty() ? QStringLiteral("; slave %1 sent exception code %2")
                                .arg(f.slave)
                                .arg(f.exceptionCode)
                          : QStringLiteral("; slave %1 sent exception code %2 (%3)")
                                .arg(f.slave)
                                .arg(f.exceptionCode)
                                .arg(name);
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
    case LinkFault::BadArgument:
        return QStringLiteral("Function %1 request not sent: a value does not fit its frame byte")
            .arg(f.functionCode);
    case LinkFault::Busy:
        return QStringLiteral("Function %1 request not sent: another transaction is in progress")
            .arg(f.functionCode);
    case LinkFault::NoAnswer: {
        QString text = QStringLiteral("No answer from slave %1 at %2 baud after %3 %4")
                           .arg(f.slave)
                           .arg(f.baud)
                           .arg(f.sends)
                           .arg(f.sends == 1 ? QStringLiteral("send") : QStringLiteral("sends"));
        text += exceptionText(f);
        if (!f.osReason.isEmpty()) {
            text += QStringLiteral("; write failed: ") + f.osReason;
        }
        return text;
    }
    case LinkFault::AnswerStopped:
        return QStringLiteral("Answer from slave %1 stopped after %2 %3")
                   .arg(f.slave)
                   .arg(f.bytesTaken)
                   .arg(f.bytesTaken == 1 ? QStringLiteral("byte") : QStringLiteral("bytes")) +
               exceptionText(f);
    case LinkFault::CrcMismatch:
        return QStringLiteral("CRC mismatch in the answer from slave %1").arg(f.slave);
    }
    return QStringLiteral("Unknown link failure");
}

} // namespace meterlink
