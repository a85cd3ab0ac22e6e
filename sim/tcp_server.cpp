#include "sim/tcp_server.h"

#include "sim/meter_bus.h"
#include "sim/pty_server.h"
#include "sim/reply_schedule.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace meterlink {

namespace {

constexpr double kDropDownSeconds = 0.5;

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

TcpServer::~TcpServer() {
    closeClient();
    closeFd(listenFd_);
}

bool TcpServer::listen(const QString& host, int port, QString* error) {
    host_ = host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : host;
    port_ = port;
    return openListener(error);
}

bool TcpServer::openListener(QString* error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = systemError("socket");
        return false;
    }
    // Listening again on the same port after a drop, while the old connection lingers.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port_));
    if (::inet_pton(AF_INET, host_.toLatin1().constData(), &address.sin_addr) != 1) {
        ::close(fd);
        *error = QStringLiteral("%1 is no IPv4 address").arg(host_);
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        *error =
            systemError("cannot listen").prepend(QStringLiteral("%1:%2: ").arg(host_).arg(port_));
        ::close(fd);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listenFd_ = fd;
    return true;
}

void TcpServer::closeClient() {
    closeFd(clientFd_);
    arriving_.clear();
}

bool TcpServer::run(int stopFd, QString* error) {
    auto schedule = std::make_unique<ReplySchedule>(baud_);
    const double latency = network_.latencyMs / 1000.0;
    char buffer[4096];
    for (;;) {
        double now = monotonicSeconds();
        if (listenFd_ < 0 && now >= downUntil_ && !openListener(error))
            return false;
        // The earliest of: a request reaching the meters, an answer due, the gateway back.
        double wakeAt = -1.0;
        const auto wakeBy = [&](double t) {
            if (wakeAt < 0 || t < wakeAt)
                wakeAt = t;
        };
        if (!arriving_.empty())
            wakeBy(arriving_.front().due);
        if (!schedule->empty())
            wakeBy(schedule->nextDue());
        if (listenFd_ < 0)
            wakeBy(downUntil_);
        const bool wantWrite = !schedule->empty() && schedule->nextDue() <= now;
        const int timeoutMs =
            wakeAt < 0 ? -1 : static_cast<int>(std::ceil(std::max(0.0, wakeAt - now) * 1000.0));
        pollfd fds[3] = {{stopFd, POLLIN, 0},
                         {listenFd_, POLLIN, 0},
                         {clientFd_, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0}};
        if (::poll(fds, 3, timeoutMs) < 0) {
            if (errno == EINTR)
                continue;
            *error = systemError("poll");
            return false;
        }
        if (fds[0].revents & POLLIN)
            return true;
        now = monotonicSeconds();
        if (listenFd_ >= 0 && (fds[1].revents & POLLIN)) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0 && clientFd_ >= 0) {
                ::close(fd); // one client at a time
            } else if (fd >= 0) {
                const int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                clientFd_ = fd;
                schedule = std::make_unique<ReplySchedule>(baud_);
            }
        }
        if (clientFd_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::read(clientFd_, buffer, sizeof buffer);
            if (n > 0) {
                if (network_.dropAt > 0 && ++requests_ == network_.dropAt) {
                    // The gateway goes away with the request unanswered, and is back soon.
                    closeClient();
                    closeFd(listenFd_);
                    schedule = std::make_unique<ReplySchedule>(baud_);
                    downUntil_ = now + kDropDownSeconds;
                    continue;
                }
                arriving_.push_back({QByteArray(buffer, static_cast<int>(n)), now + latency});
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                // The client went: serve the next one from a clean line.
                closeClient();
                schedule = std::make_unique<ReplySchedule>(baud_);
                continue;
            }
        }
        while (!arriving_.empty() && arriving_.front().due <= now) {
            if (beforeReceive_)
                beforeReceive_();
            for (const MeterReply& reply : meters_.receive(arriving_.front().bytes, now))
                schedule->add(reply.bytes, now + reply.delaySeconds + latency);
            arriving_.pop_front();
        }
        if (clientFd_ >= 0 && !schedule->empty() && schedule->nextDue() <= now) {
            const QByteArray chunk = schedule->chunk();
            const ssize_t n = ::send(clientFd_, chunk.constData(),
                                     static_cast<size_t>(chunk.size()), MSG_NOSIGNAL);
            if (n > 0) {
                schedule->sent(static_cast<int>(n), now);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                closeClient();
                schedule = std::make_unique<ReplySchedule>(baud_);
            }
        }
    }
}

} // namespace meterlink
