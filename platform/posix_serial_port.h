#pragma once

#include "modbus/serial_port.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <memory>

class QSocketNotifier;

namespace meterlink {

// The link's port straight over a POSIX terminal device: raw 8N1, no handshaking.
// bytesWaiting() reads what the kernel holds, so the link sees its answer without the
// event loop having to run first; the read notifier only wakes a sleeping event pump.
// A device that goes away (a USB adapter pulled out) closes the port, so that the link's
// next transaction opens it afresh.
class PosixSerialPort : public SerialPort {
public:
    // Sets the open terminal's line speed; empty, or why the device refused it.
    using LineSpeedSetter = QString (*)(int fd, qint32 baud);

    PosixSerialPort();
    // A port whose speed is set another way, so that a refusal can be tried without a
    // device that refuses.
    explicit PosixSerialPort(LineSpeedSetter setSpeed);
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    void configure(const QString& deviceName, qint32 baud) override;
    bool open() override;
    bool isOpen() const override { return fd_ >= 0; }
    QString errorText() const override { return error_; }
    qint64 bytesWaiting() override;
    void discardInput() override;
    void discardOutput() override;
    bool write(const QByteArray& frame) override;
    QByteArray take(qint64 count) override;
    qint64 takeInto(char* into, qint64 count) override;
    bool awaitInput(double holdSeconds) override;

    void close();

    // True while the port waits for input (a request went out, or a look found nothing new)
    // and its notifier will wake a sleeping event pump when some comes.
    bool polling() const;
    // True when input has come since the latest look: the next look will find it.
    bool inputArrived() const { return arrived_; }
    // How long an event pump may sleep for this port: what is left of a hold.
    int holdMilliseconds() const;

private:
    // Reads everything the kernel has into received_; false when the device is gone.
    bool drain();
    // Closes the descriptor and keeps why, so that the next open() starts afresh.
    void lose(int error);
    void setError(int error);
    void armNotifier(bool armed);
    // A look during awaitInput() that must not read yet.
    bool stillAwaiting() const;
    void stopAwaiting() { awaiting_ = holding_ = false; }

    LineSpeedSetter setSpeed_;
    QString device_;
    qint32 baud_ = 9600;
    int fd_ = -1;
    QByteArray received_;
    qsizetype readFrom_ = 0; // received_ before this offset has been taken
    QString error_;
    // What the latest call was, if it was a look: decides whether the next look reads.
    enum class Look { None, BroughtBytes, Answered };
    Look lastLook_ = Look::None;
    bool arrived_ = false;
    // Set by awaitInput() until the next look that reads, or a take, write or discard.
    bool awaiting_ = false;
    bool holding_ = false;
    QDeadlineTimer holdUntil_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace meterlink
