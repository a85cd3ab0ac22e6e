#pragma once

#include <QString>

namespace meterlink {

enum class LinkFault {
    None,
    PortNotOpened, // the OS refused the device; osReason says why
    BadArgument,   // a value that cannot become a frame byte; nothing was sent
    Busy,          // another transaction was waiting; nothing was sent
    NoAnswer,      // the wait ran out (exceptionCode set when the bytes were an exception answer)
    AnswerStopped, // a byte's take ran out after bytesTaken bytes
    CrcMismatch,
};

// Why the latest transaction failed, kept for the tooltip and the command line.
struct LinkFailure {
    LinkFault fault = LinkFault::None;
    int functionCode = 0;
    int slave = 0;
    QString device;
    qint32 baud = 0;
    int sends = 0;
    int bytesTaken = 0;
    int exceptionCode = -1;
    QString osReason;
};

// The one table of words for failures.
QString describe(const LinkFailure& failure);

} // namespace meterlink
