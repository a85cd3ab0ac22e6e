#include "sim/in_memory_port.h"

#include <algorithm>

namespace meterlink {

InMemoryPort::InMemoryPort(FakeClock& clock, Responder responder)
    : clock_(clock), responder_(std::move(responder)) {}

void InMemoryPort::configure(const QString& deviceName, qint32 baud) {
    ++configureCount_;
    device_ = deviceName;
    baud_ = baud;
}

bool InMemoryPort::open() {
    ++openCount_;
    if (!openFailure_.isEmpty()) {
        errorText_ = openFailure_;
        open_ = false;
        return false;
    }
    errorText_.clear();
    open_ = true;
    return true;
}

double InMemoryPort::byteTime() const {
    return baud_ > 0 ? 10.0 / baud_ : 0.0;
}

void InMemoryPort::settle() {
    const double now = clock_.elapsed();
    while (!pending_.empty() && pending_.front().arrival <= now) {
        arrived_.append(pending_.front().value);
        pending_.pop_front();
    }
}

qint64 InMemoryPort::bytesWaiting() {
    settle();
    return arrived_.size();
}

void InMemoryPort::discardInput() {
    // Bytes still on the wire are not in any buffer yet; they arrive later all the same.
    settle();
    arrived_.clear();
}

QByteArray InMemoryPort::take(qint64 count) {
    settle();
    const qint64 n = std::clamp<qint64>(count, 0, arrived_.size());
    QByteArray out = arrived_.left(n);
    arrived_.remove(0, n);
    return out;
}

void InMemoryPort::schedule(const QByteArray& bytes, double earliest) {
    // One wire: a reply cannot start while an earlier one is still being sent.
    double t = std::max(earliest, lineFreeAt_);
    for (char b : bytes) {
        t += byteTime();
        pending_.push_back({t, b});
    }
    lineFreeAt_ = t;
}

void InMemoryPort::inject(const QByteArray& bytes, double delaySeconds) {
    schedule(bytes, clock_.elapsed() + delaySeconds);
}

bool InMemoryPort::write(const QByteArray& frame) {
    if (!open_) {
        return false;
    }
    const double now = clock_.elapsed();
    written_.push_back({frame, clock_.secondsSinceMidnight(), now});
    if (!responder_) {
        return true;
    }
    const double requestEnd = now + frame.size() * byteTime();
    for (const MeterReply& reply : responder_(frame, requestEnd)) {
        if (!reply.bytes.isEmpty()) {
            schedule(reply.bytes, requestEnd + turnaround_ + std::max(0.0, reply.delaySeconds));
        }
    }
    return true;
}

} // namespace meterlink
