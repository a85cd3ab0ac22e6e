#include "platform/tcp_port.h"

#include "platform/tcp_device.h"

#include <QDeadlineTimer>
#include <QThread>

namespace meterlink {

namespace {

constexpr int kRetryPauseMs = 200;

} // namespace

QString tcpErrorText(QAbstractSocket::SocketError error, const QString& systemText) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused (nothing listens there, or the gateway "
                              "allows no further connection)");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("the gateway closed or reset the connection");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("host not found");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("no connection: the gateway did not answer in time");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("the network failed: %1").arg(systemText);
    default:
        return systemText;
    }
}

TcpPort::TcpPort(int connectMilliseconds, int rideOutMilliseconds)
    : connectMs_(connectMilliseconds), rideOutMs_(rideOutMilliseconds) {
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this] { arrived_ = true; });
    QObject::connect(&socket_, &QAbstractSocket::errorOccurred,
                     [this](QAbstractSocket::SocketError e) {
                         // A wait that found nothing is no loss.
                         if (e == QAbstractSocket::SocketTimeoutError)
                             return;
                         if (socket_.state() == QAbstractSocket::ConnectedState ||
                             e == QAbstractSocket::RemoteHostClosedError)
                             lose(tcpErrorText(e, socket_.errorString()));
                     });
    // A clean close by the gateway comes without an error on some systems.
    QObject::connect(&socket_, &QAbstractSocket::disconnected, [this] {
        if (!lossUnseen_ && connectedBefore_)
            lose(tcpErrorText(QAbstractSocket::RemoteHostClosedError, QString()));
    });
}

TcpPort::~TcpPort() {
    // Closing emits signals whose handlers would touch members already gone.
    socket_.blockSignals(true);
    socket_.abort();
}

void TcpPort::configure(const QString& deviceName, qint32 baud) {
    Q_UNUSED(baud); // the gateway's serial speed is set in the gateway
    if (deviceName != device_)
        connectedBefore_ = false;
    device_ = deviceName;
}

void TcpPort::lose(const QString& why) {
    if (lossUnseen_)
        return;
    error_ = QStringLiteral("%1: %2").arg(device_, why);
    polling_ = false;
    // The link learns of it at its next look, and that transaction fails with this reason.
    lossUnseen_ = true;
    socket_.abort();
}

bool TcpPort::lossSeen() {
    if (!lossUnseen_)
        return false;
    lossUnseen_ = false;
    return true;
}

bool TcpPort::connectOnce(const QString& host, quint16 port, int timeoutMs) {
    socket_.abort();
    socket_.connectToHost(host, port);
    if (socket_.waitForConnected(timeoutMs)) {
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return true;
    }
    error_ =
        QStringLiteral("%1: %2").arg(device_, tcpErrorText(socket_.error(), socket_.errorString()));
    socket_.abort();
    return false;
}

bool TcpPort::open() {
    lossUnseen_ = false;
    error_.clear();
    if (socket_.state() == QAbstractSocket::ConnectedState)
        return true;
    const auto address = parseTcpDevice(device_, &error_);
    if (!address)
        return false;
    // A first connection that fails says so at once; a gateway that was there is given
    // the ride-out to come back.
    const QDeadlineTimer rideOut(connectedBefore_ ? rideOutMs_ : 0);
    for (;;) {
        const int attemptMs =
            connectedBefore_
                ? int(qBound<qint64>(qint64(1), rideOut.remainingTime(), qint64(connectMs_)))
                : connectMs_;
        if (connectOnce(address->host, address->port, attemptMs)) {
            error_.clear();
            connectedBefore_ = true;
            arrived_ = false;
            polling_ = false;
            return true;
        }
        if (rideOut.hasExpired())
            return false;
        QThread::msleep(ulong(qMin<qint64>(kRetryPauseMs, rideOut.remainingTime())));
    }
}

qint64 TcpPort::bytesWaiting() {
    arrived_ = false;
    if (lossSeen())
        return 0;
    polling_ = true;
    return socket_.bytesAvailable();
}

QByteArray TcpPort::take(qint64 count) {
    polling_ = false;
    return socket_.isOpen() ? socket_.read(count) : QByteArray();
}

void TcpPort::discardInput() {
    polling_ = false;
    if (socket_.state() == QAbstractSocket::ConnectedState) {
        // What the system has received but the event loop has yet to read goes too, as a
        // serial port's flush drops what the driver holds.
        while (socket_.waitForReadyRead(0))
            socket_.readAll();
        socket_.readAll();
    }
    arrived_ = false;
}

bool TcpPort::write(const QByteArray& frame) {
    polling_ = false;
    // Dropped since the last answer (a gateway's idle time-out, say): nothing was awaited,
    // so connect again and send, rather than fail a transaction.
    if (socket_.state() != QAbstractSocket::ConnectedState && !open())
        return false;
    if (socket_.write(frame) != frame.size()) {
        lose(tcpErrorText(socket_.error(), socket_.errorString()));
        return false;
    }
    // Onto the network now rather than at the next pass of the event loop.
    socket_.flush();
    return true;
}

} // namespace meterlink
