#include "sim/pty_server.h"

#include "sim/meter_bus.h"
#include "sim/pty_line_speed.h"
#include "sim/reply_schedule.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

namespace meterlink {

double monotonicSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

int PtyServer::waitFor(pollfd* fds, double seconds) const {
#ifdef __linux__
    if (paced_ && seconds > 0) {
        // A byte at 38400 baud takes a quarter of a millisecond: wake to the microsecond.
        const double whole = std::floor(seconds);
        const timespec timeout{static_cast<time_t>(whole),
                               static_cast<long>((seconds - whole) * 1e9)};
        return ::ppoll(fds, 2, &timeout, nullptr);
    }
#endif
    const int timeoutMs = seconds < 0 ? -1 : static_cast<int>(std::ceil(seconds * 1000.0));
    return ::poll(fds, 2, timeoutMs);
}

bool PtyServer::run(int stopFd, QString* error) {
    ReplySchedule schedule(baud_, paced_);
    char buffer[4096];
    for (;;) {
        double now = monotonicSeconds();
        double wait = -1.0;
        bool wantWrite = false;
        if (!schedule.empty()) {
            wait = schedule.nextDue() - now;
            if (wait <= 0) {
                wantWrite = true;
                wait = -1.0;
            }
        }
        pollfd fds[2] = {{masterFd_, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
                         {stopFd, POLLIN, 0}};
        if (waitFor(fds, wait) < 0) {
            if (errno == EINTR)
                continue;
            *error = QStringLiteral("poll: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (fds[1].revents & POLLIN)
            return true;
        now = monotonicSeconds();
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(masterFd_, buffer, sizeof buffer);
            if (n > 0 && unplugAt_ > 0 && ++pieces_ == unplugAt_) {
                unplugged_ = true;
                return true;
            }
            if (n > 0 && (baud_ <= 0 || ptyLineSpeed(masterFd_) == baud_)) {
                if (beforeReceive_)
                    beforeReceive_();
                for (const MeterReply& reply :
                     meters_.receive(QByteArray(buffer, static_cast<int>(n)), now))
                    schedule.add(reply.bytes, now + reply.delaySeconds);
                if (afterReceive_)
                    afterReceive_();
            } else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                *error =
                    QStringLiteral("read: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
                return false;
            }
        }
        if ((fds[0].revents & POLLOUT) && !schedule.empty() && schedule.nextDue() <= now) {
            const QByteArray chunk = schedule.chunk();
            const ssize_t n =
                ::write(masterFd_, chunk.constData(), static_cast<size_t>(chunk.size()));
            if (n > 0) {
                schedule.sent(static_cast<int>(n), now);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                *error =
                    QStringLiteral("write: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
                return false;
            }
        }
        // We hold a slave descriptor, so a hang-up only comes from a broken pty; don't spin.
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & POLLIN)) {
            *error = QStringLiteral("the pseudo-terminal hung up");
            return false;
        }
    }
}

} // namespace meterlink
