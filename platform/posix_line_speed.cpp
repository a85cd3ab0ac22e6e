#include "platform/line_speed.h"

#include <termios.h>

#include <cerrno>
#include <cstring>

namespace meterlink {

namespace {

bool speedFor(qint32 baud, speed_t& speed) {
    // Where speed_t is the rate itself (the BSDs, macOS), every rate can be asked for.
    if (B9600 == 9600) {
        speed = speed_t(baud);
        return baud > 0;
    }
    switch (baud) {
    case 300:
        speed = B300;
        return true;
    case 600:
        speed = B600;
        return true;
    case 1200:
        speed = B1200;
        return true;
    case 2400:
        speed = B2400;
        return true;
    case 4800:
        speed = B4800;
        return true;
    case 9600:
        speed = B9600;
        return true;
    case 19200:
        speed = B19200;
        return true;
    case 38400:
        speed = B38400;
        return true;
    case 57600:
        speed = B57600;
        return true;
    case 115200:
        speed = B115200;
        return true;
    default:
        return false;
    }
}

} // namespace

QString setLineSpeed(int fd, qint32 baud) {
    speed_t speed = 0;
    if (!speedFor(baud, speed)) {
        return QStringLiteral("this system has no %1 baud setting").arg(baud);
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0 || ::cfsetispeed(&tio, speed) != 0 ||
        ::cfsetospeed(&tio, speed) != 0 || ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    return QString();
}

void requestLowLatency(int) {}

} // namespace meterlink
