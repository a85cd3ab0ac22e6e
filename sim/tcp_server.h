#pragma once

#include <QByteArray>
#include <QString>

#include <deque>
#include <functional>

namespace meterlink {

class MeterBus;

// The meters behind a simulated serial-to-network gateway in raw TCP mode: the bytes of a
// connection go to the meters' line and their answers come back, nothing added. One
// client at a time; a second connection is accepted and closed at once, as a gateway
// limited to one connection does, so that it learns at once rather than time out.
// With a baud rate the answers leave at the line's pace; `latencyMs` delays each way.
class TcpServer {
public:
    struct Network {
        int latencyMs = 0;
        int dropAt = 0; // the K-th request closes the connection; back half a second later
    };

    TcpServer(MeterBus& meters, int baud, Network network)
        : meters_(meters), baud_(baud), network_(network) {}
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Binds and listens; `port` 0 takes a free one, which port() then names.
    bool listen(const QString& host, int port, QString* error);
    int port() const { return port_; }

    // Runs before every piece of a request is handed to the meters.
    void setBeforeReceive(std::function<void()> hook) { beforeReceive_ = std::move(hook); }

    // Serves until `stopFd` becomes readable: true; false with `error` set on a failure.
    bool run(int stopFd, QString* error);

private:
    bool openListener(QString* error);
    void closeClient();

    MeterBus& meters_;
    int baud_;
    Network network_;
    std::function<void()> beforeReceive_;
    QString host_;
    int port_ = 0;
    int listenFd_ = -1;
    int clientFd_ = -1;
    int requests_ = 0;
    double downUntil_ = 0.0; // after a drop the gateway takes no connection until then
    struct Arriving {
        QByteArray bytes;
        double due;
    };
    std::deque<Arriving> arriving_; // requests still crossing the network
};

} // namespace meterlink
