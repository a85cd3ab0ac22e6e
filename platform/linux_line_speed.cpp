// The kernel's own terminal structures: glibc's <termios.h> knows only the classic rates and
// must not be included beside these.
#include "platform/line_speed.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace meterlink {

namespace {

// A UART's divider gives the nearest rate it can; a frame survives about 2 % off.
bool closeEnough(qint32 actual, qint32 wanted) {
    return std::llabs(qint64(actual) - wanted) * 50 <= wanted;
}

// The classic rates keep their constant, for drivers that look at nothing else.
tcflag_t classicRate(qint32 baud) {
    switch (baud) {
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return BOTHER;
    }
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString setLineSpeed(int fd, qint32 baud) {
    if (baud <= 0) {
        return systemReason(EINVAL);
    }
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return systemReason(errno);
    }
    // The input speed follows the output one (no rate of its own in the input bits).
    tio.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= classicRate(baud);
    tio.c_ispeed = speed_t(baud);
    tio.c_ospeed = speed_t(baud);
    if (::ioctl(fd, TCSETS2, &tio) != 0) {
        return systemReason(errno);
    }
    termios2 now{};
    if (::ioctl(fd, TCGETS2, &now) != 0) {
        return systemReason(errno);
    }
    if (!closeEnough(qint32(now.c_ospeed), baud)) {
        return QStringLiteral("the device cannot run at %1 baud (it offers %2)")
            .arg(baud)
            .arg(now.c_ospeed);
    }
    return QString();
}

void requestLowLatency(int fd) {
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        return; // not a serial driver (a pseudo-terminal, for one)
    }
    if (serial.flags & ASYNC_LOW_LATENCY) {
        return;
    }
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
}

} // namespace meterlink
