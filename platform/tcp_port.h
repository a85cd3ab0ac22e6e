#pragma once

#include "modbus/serial_port.h"

#include <QTcpSocket>

namespace meterlink {

// The link's port over a TCP connection to a serial-to-network gateway in raw mode: the
// gateway passes the frames to its serial line and the answers back, so the link's bytes,
// waits and resends are those of a serial line; the line speed only sizes the waits.
// It only connects out. Received bytes reach bytesWaiting() when the event loop runs
// the socket's notifier, as the link's event pump does in every wait.
//
// A connection that drops (closed or reset by the gateway, the network gone) while an
// answer is awaited ends that transaction with the reason; one that dropped in between is
// reopened by the next write. Either way the reopen, since the gateway was there before,
// keeps trying for a while (a gateway restarting, a mobile link coming back).
class TcpPort : public SerialPort {
public:
    // How long one connection attempt may take, and how long a reopen keeps trying.
    explicit TcpPort(int connectMilliseconds = 5000, int rideOutMilliseconds = 5000);
    ~TcpPort() override;
    TcpPort(const TcpPort&) = delete;
    TcpPort& operator=(const TcpPort&) = delete;

    void configure(const QString& deviceName, qint32 baud) override;
    bool open() override;
    bool isOpen() const override {
        return socket_.state() == QAbstractSocket::ConnectedState || lossUnseen_;
    }
    QString errorText() const override { return error_; }
    qint64 bytesWaiting() override;
    void discardInput() override;
    void discardOutput() override {}
    bool write(const QByteArray& frame) override;
    QByteArray take(qint64 count) override;

    // True when the latest call looked for bytes and none were taken since: the caller is
    // waiting for input, and the event pump may sleep until it comes.
    bool polling() const { return polling_; }
    // True when bytes came since the latest look.
    bool inputArrived() const { return arrived_; }

private:
    // One connection attempt; the reason in plain words when it fails.
    bool connectOnce(const QString& host, quint16 port, int timeoutMs);
    void lose(const QString& why);
    bool lossSeen();

    QTcpSocket socket_;
    QString device_;
    int connectMs_;
    int rideOutMs_;
    QString error_;
    bool polling_ = false;
    bool arrived_ = false;
    bool lossUnseen_ = false;
    bool connectedBefore_ = false;
};

// The socket's error in plain words.
QString tcpErrorText(QAbstractSocket::SocketError error, const QString& systemText);

} // namespace meterlink
