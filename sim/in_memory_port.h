#pragma once

#include "modbus/serial_port.h"
#include "sim/fake_clock.h"
#include "sim/meter_reply.h"

#include <deque>
#include <vector>

namespace meterlink {

// A serial line in memory. Whatever the master writes goes to the responder; the replies
// come back byte by byte at the configured line rate, visible only once the fake clock has
// passed each byte's arrival time.
class InMemoryPort : public SerialPort {
public:
    struct WrittenFrame {
        QByteArray bytes;
        double timeOfDay = 0.0;
        double elapsed = 0.0;
    };

    InMemoryPort(FakeClock& clock, Responder responder = {});

    void configure(const QString& deviceName, qint32 baud) override;
    bool open() override;
    bool isOpen() const override { return open_; }
    QString errorText() const override { return errorText_; }
    qint64 bytesWaiting() override;
    void discardInput() override;
    void discardOutput() override {}
    bool write(const QByteArray& frame) override;
    QByteArray take(qint64 count) override;

    void setResponder(Responder responder) { responder_ = std::move(responder); }
    // A non-empty reason makes every open() fail with it; empty makes the port openable.
    void setOpenFailure(const QString& reason) { openFailure_ = reason; }
    // The device goes away, as an unplugged adapter does: the port is no longer open.
    void unplug() { open_ = false; }
    // Puts bytes on the wire from the meter's side, after `delaySeconds` (noise, junk).
    void inject(const QByteArray& bytes, double delaySeconds = 0.0);
    // Delay between the request's last byte and the reply's first.
    void setTurnaround(double seconds) { turnaround_ = seconds; }

    const std::vector<WrittenFrame>& written() const { return written_; }
    int openCount() const { return openCount_; }
    int configureCount() const { return configureCount_; }
    QString deviceName() const { return device_; }
    qint32 baud() const { return baud_; }
    // Seconds one byte takes on the wire at the configured speed (10 bits a byte).
    double byteTime() const;

private:
    struct PendingByte {
        double arrival;
        char value;
    };

    void schedule(const QByteArray& bytes, double earliest);
    void settle();

    FakeClock& clock_;
    Responder responder_;
    QString device_;
    qint32 baud_ = 9600;
    bool open_ = false;
    QString openFailure_;
    QString errorText_;
    double turnaround_ = 0.002;
    double lineFreeAt_ = 0.0;
    std::deque<PendingByte> pending_;
    QByteArray arrived_;
    std::vector<WrittenFrame> written_;
    int openCount_ = 0;
    int configureCount_ = 0;
};

} // namespace meterlink
