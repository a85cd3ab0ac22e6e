#include "platform/posix_serial_port.h"

#include "platform/line_speed.h"

#include <algorithm>

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace meterlink {

namespace {

// Read in large pieces: an answer of a few hundred bytes comes in one call.
constexpr qsizetype kReadChunk = 4096;

// Gives up exclusive use before the descriptor goes: the flag outlives it while anyone
// else holds the terminal (the far end of a pty, a bridge), and would keep every other
// non-root open out.
void release(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

// Errors after which the device is not coming back under this descriptor.
bool meansDeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

} // namespace

PosixSerialPort::PosixSerialPort() : PosixSerialPort(&setLineSpeed) {}

PosixSerialPort::PosixSerialPort(LineSpeedSetter setSpeed) : setSpeed_(setSpeed) {}

PosixSerialPort::~PosixSerialPort() {
    close();
}

void PosixSerialPort::configure(const QString& deviceName, qint32 baud) {
    device_ = deviceName;
    baud_ = baud;
}

void PosixSerialPort::setError(int error) {
    error_ = QStringLiteral("%1: %2").arg(device_, QString::fromLocal8Bit(std::strerror(error)));
}

bool PosixSerialPort::open() {
    error_.clear();
    if (fd_ >= 0) {
        return true;
    }
    if (device_.isEmpty()) {
        error_ = QStringLiteral("no device named");
        return false;
    }
    const QByteArray path = QFile::encodeName(device_);
    if (path.contains('\0')) {
        setError(ENOENT);
        return false;
    }
    int fd = -1;
    do {
        fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        setError(errno);
        return false;
    }
    termios tio{};
    bool ok = ::tcgetattr(fd, &tio) == 0;
    if (ok && ::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        ok = false;
    }
    if (ok) {
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
        // With VMIN 0 an empty read returns 0 like a hang-up; with 1 it says EAGAIN.
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ok = ::tcsetattr(fd, TCSANOW, &tio) == 0;
    }
    if (!ok) {
        setError(errno);
        release(fd);
        return false;
    }
    const QString speedRefused = setSpeed_(fd, baud_);
    if (!speedRefused.isEmpty()) {
        error_ = QStringLiteral("%1: %2").arg(device_, speedRefused);
        release(fd);
        return false;
    }
    requestLowLatency(fd);
    fd_ = fd;
    received_.clear();
    readFrom_ = 0;
    lastLook_ = Look::None;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    notifier_->setEnabled(false);
    // The notifier only wakes the sleeping pump; bytesWaiting() does the reading.
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        armNotifier(false);
        arrived_ = true;
    });
    return true;
}

void PosixSerialPort::close() {
    notifier_.reset();
    if (fd_ >= 0) {
        release(fd_);
        fd_ = -1;
    }
    lastLook_ = Look::None;
    arrived_ = false;
    stopAwaiting();
}

void PosixSerialPort::lose(int error) {
    setError(error);
    error_ = QStringLiteral("device disappeared: ") + error_;
    close();
}

bool PosixSerialPort::polling() const {
    return (notifier_ && notifier_->isEnabled()) || holdMilliseconds() > 0;
}

bool PosixSerialPort::awaitInput(double holdSeconds) {
    if (fd_ < 0) {
        return false;
    }
    // Whole milliseconds, rounded down: the pump's timer counts in them, and the last of the
    // wait is the notifier's.
    const qint64 hold = holdSeconds >= 0.001 ? qint64(holdSeconds * 1000.0) : 0;
    const bool holdingAlready = awaiting_ && holding_ && !holdUntil_.hasExpired();
    if (holdingAlready) {
        if (hold < holdUntil_.remainingTime()) {
            holdUntil_.setRemainingTime(hold, Qt::PreciseTimer);
        }
    } else if (hold > 0) {
        holdUntil_.setRemainingTime(hold, Qt::PreciseTimer);
    }
    awaiting_ = true;
    holding_ = holdingAlready || hold > 0;
    // Held, the input stays with the system and wakes nobody; else its first byte wakes the
    // pump, and the look after that reads it.
    armNotifier(!holding_ && !arrived_);
    return true;
}

bool PosixSerialPort::stillAwaiting() const {
    if (!awaiting_ || arrived_) {
        return false;
    }
    return holding_ ? !holdUntil_.hasExpired() : polling();
}

int PosixSerialPort::holdMilliseconds() const {
    if (!awaiting_ || !holding_) {
        return 0;
    }
    // Rounded up: a sleep that ends a little early would find the hold still on.
    const qint64 nanoseconds = holdUntil_.remainingTimeNSecs();
    return int(qBound<qint64>(0, (nanoseconds + 999999) / 1000000, qint64(3600) * 1000));
}

void PosixSerialPort::armNotifier(bool armed) {
    if (notifier_ && notifier_->isEnabled() != armed) {
        notifier_->setEnabled(armed);
    }
}

bool PosixSerialPort::drain() {
    if (fd_ < 0) {
        return false;
    }
    if (readFrom_ > 0 && readFrom_ >= received_.size() / 2) {
        received_.remove(0, readFrom_);
        readFrom_ = 0;
    }
    for (;;) {
        const qsizetype had = received_.size();
        received_.resize(had + kReadChunk);
        const ssize_t got = ::read(fd_, received_.data() + had, size_t(kReadChunk));
        const int error = errno;
        received_.resize(had + qMax<ssize_t>(got, 0));
        if (got > 0) {
            if (got < kReadChunk) {
                return true;
            }
            continue;
        }
        if (got == 0) {
            // End of file on a terminal means a hang-up only when poll says so.
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) {
                lose(EIO);
                return false;
            }
            return true;
        }
        if (error == EINTR) {
            continue;
        }
        if (error == EAGAIN || error == EWOULDBLOCK) {
            return true;
        }
        if (meansDeviceGone(error)) {
            lose(error);
        } else {
            setError(error);
        }
        return false;
    }
}

qint64 PosixSerialPort::bytesWaiting() {
    // The kernel is asked when the buffer is empty or when the caller looks again without
    // taking (it waits for more). A look right after a read that brought bytes, or between
    // takes, is answered from the buffer: that saves a read per byte the link takes.
    if (stillAwaiting()) {
        // Nothing the caller waits for can be here yet: no read that would find nothing.
        return received_.size() - readFrom_;
    }
    const bool awaited = awaiting_;
    stopAwaiting();
    arrived_ = false;
    const qsizetype had = received_.size() - readFrom_;
    if (awaited || had == 0 || lastLook_ == Look::Answered) {
        drain();
        const bool more = received_.size() - readFrom_ > had;
        if (fd_ >= 0 && !more) {
            armNotifier(true);
        }
        lastLook_ = more ? Look::BroughtBytes : Look::Answered;
    } else {
        lastLook_ = Look::Answered;
    }
    return received_.size() - readFrom_;
}

QByteArray PosixSerialPort::take(qint64 count) {
    QByteArray bytes(qsizetype(qBound<qint64>(0, count, received_.size() - readFrom_)),
                     Qt::Uninitialized);
    takeInto(bytes.data(), bytes.size());
    return bytes;
}

qint64 PosixSerialPort::takeInto(char* into, qint64 count) {
    lastLook_ = Look::None;
    stopAwaiting();
    const qsizetype n = qsizetype(qBound<qint64>(0, count, received_.size() - readFrom_));
    std::copy_n(received_.constData() + readFrom_, n, into);
    readFrom_ += n;
    if (readFrom_ >= received_.size()) {
        // Keeps its capacity for the next answer.
        received_.resize(0);
        readFrom_ = 0;
    }
    return n;
}

void PosixSerialPort::discardInput() {
    lastLook_ = Look::None;
    stopAwaiting();
    arrived_ = false;
    // Whatever it waited for is no longer wanted.
    armNotifier(false);
    received_.clear();
    readFrom_ = 0;
    if (fd_ >= 0 && ::tcflush(fd_, TCIFLUSH) != 0 && meansDeviceGone(errno)) {
        lose(errno);
    }
}

void PosixSerialPort::discardOutput() {
    if (fd_ >= 0 && ::tcflush(fd_, TCOFLUSH) != 0 && meansDeviceGone(errno)) {
        lose(errno);
    }
}

bool PosixSerialPort::write(const QByteArray& frame) {
    lastLook_ = Look::None;
    stopAwaiting();
    if (fd_ < 0) {
        if (error_.isEmpty()) {
            error_ = QStringLiteral("%1: the port is not open").arg(device_);
        }
        return false;
    }
    // Room in the output queue comes at the line rate; allow twice the frame's time on the
    // wire and a second besides, so that a stuck line gives up instead of hanging.
    const qint64 lineMs = baud_ > 0 ? qint64(frame.size()) * 10 * 1000 / baud_ : 0;
    const QDeadlineTimer deadline(2 * lineMs + 1000);
    qsizetype sent = 0;
    while (sent < frame.size()) {
        const ssize_t put = ::write(fd_, frame.constData() + sent, size_t(frame.size() - sent));
        if (put > 0) {
            sent += put;
            continue;
        }
        const int error = errno;
        if (put < 0 && error == EINTR) {
            continue;
        }
        if (put < 0 && error != EAGAIN && error != EWOULDBLOCK) {
            if (meansDeviceGone(error)) {
                lose(error);
            } else {
                setError(error);
            }
            return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0 || (ready < 0 && errno != EAGAIN)) {
            error_ = QStringLiteral("%1: the line took no more output").arg(device_);
            return false;
        }
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            lose(EIO);
            return false;
        }
    }
    // The answer follows the request: let a sleeping pump wake for it.
    armNotifier(true);
    return true;
}

} // namespace meterlink
