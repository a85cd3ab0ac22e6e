#include "cli/interruptible_port.h"

namespace meterlink {

namespace {

// Enough for any wait of the link to stop waiting; take() then delivers nothing.
constexpr qint64 kEverything = qint64(1) << 30;

} // namespace

void InterruptiblePort::configure(const QString& deviceName, qint32 baud) {
    port_.configure(deviceName, baud);
}

bool InterruptiblePort::open() {
    return !cut_ && port_.open();
}

bool InterruptiblePort::isOpen() const {
    return !cut_ && port_.isOpen();
}

QString InterruptiblePort::errorText() const {
    return cut_ ? QStringLiteral("interrupted") : port_.errorText();
}

qint64 InterruptiblePort::bytesWaiting() {
    return cut_ ? kEverything : port_.bytesWaiting();
}

void InterruptiblePort::discardInput() {
    if (!cut_)
        port_.discardInput();
}

void InterruptiblePort::discardOutput() {
    if (!cut_)
        port_.discardOutput();
}

bool InterruptiblePort::write(const QByteArray& frame) {
    return !cut_ && port_.write(frame);
}

QByteArray InterruptiblePort::take(qint64 count) {
    return cut_ ? QByteArray() : port_.take(count);
}

qint64 InterruptiblePort::takeInto(char* into, qint64 count) {
    return cut_ ? 0 : port_.takeInto(into, count);
}

} // namespace meterlink
