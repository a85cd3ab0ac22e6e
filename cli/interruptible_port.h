#pragma once

#include "modbus/serial_port.h"

namespace meterlink {

// Passes everything to the real port until cut(). From then on the port looks unplugged
// and its answers empty: a waiting transaction ends at its next look instead of running
// out its time-out, and every later one fails at once because the port will not open.
class InterruptiblePort : public SerialPort {
public:
    explicit InterruptiblePort(SerialPort& port) : port_(port) {}

    void cut() { cut_ = true; }
    bool isCut() const { return cut_; }

    void configure(const QString& deviceName, qint32 baud) override;
    bool open() override;
    bool isOpen() const override;
    QString errorText() const override;
    qint64 bytesWaiting() override;
    void discardInput() override;
    void discardOutput() override;
    bool write(const QByteArray& frame) override;
    QByteArray take(qint64 count) override;
    qint64 takeInto(char* into, qint64 count) override;

private:
    SerialPort& port_;
    bool cut_ = false;
};

} // namespace meterlink
