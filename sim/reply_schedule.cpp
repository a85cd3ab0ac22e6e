#include "sim/reply_schedule.h"

#include <QtGlobal>

namespace meterlink {

void ReplySchedule::add(const QByteArray& bytes, double due) {
    if (bytes.isEmpty())
        return;
    queue_.push_back({bytes, due});
    if (queue_.size() == 1)
        queue_.front().due = qMax(due, lineFreeAt_);
}

QByteArray ReplySchedule::chunk() const {
    const QByteArray& bytes = queue_.front().bytes;
    if (baud_ <= 0)
        return bytes;
    return bytes.left(chunkBytes());
}

void ReplySchedule::sent(int count, double now) {
    if (queue_.empty() || count <= 0)
        return;
    Pending& front = queue_.front();
    front.bytes.remove(0, count);
    if (baud_ > 0) {
        // Count from when the chunk was due, so waking late (by up to a chunk's time: the
        // poll timer counts in whole milliseconds) does not slow the line; from no further
        // back than that, so a stall does not turn into a burst. Paced bytes make up for a
        // late wake of up to 5 ms too, a byte a write.
        const double lateness = paced_ ? qMax(0.005, byteSeconds()) : chunkBytes() * byteSeconds();
        const double start = qMax(front.due, now - lateness);
        lineFreeAt_ = start + count * byteSeconds();
    } else {
        lineFreeAt_ = now;
    }
    if (front.bytes.isEmpty()) {
        queue_.pop_front();
        if (!queue_.empty())
            queue_.front().due = qMax(queue_.front().due, lineFreeAt_);
    } else {
        front.due = lineFreeAt_;
    }
}

} // namespace meterlink
