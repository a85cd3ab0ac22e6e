#pragma once

#include <QString>

namespace meterlink {

enum class LinkFault {
    None,
    PortNotOpened, // the OS refused the device; osReason says why
    DeviceGone,    // the device went away and did not come back in time
    BadArgument,   // a value that cannot become a frame byte; nothing was sent
    BadSlave,      // no meter can answer this slave ID; nothing was sent
    Busy,          // another transaction was waiting; nothing was sent
    Stopped,       // the session was aborted: the wait ended, or nothing was sent (sends 0)
    NoAnswer,      // the wait ran out with nothing received
    AnswerStopped, // the answer broke off after bytesTaken bytes
    Refused,       // the meter sent an exception answer (exceptionCode)
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

// How long a transaction waits for a device that went away to come back (an adapter's
// reset or a replug takes a second or two).
constexpr int rideOutSeconds = 5;

// The one table of words for failures.
QString describe(const LinkFailure& failure);

} // namespace meterlink
