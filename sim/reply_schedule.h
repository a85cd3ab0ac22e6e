#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <deque>

namespace meterlink {

// Answers waiting to go out on a real line, in order. With a baud rate the bytes leave
// in small chunks, each due when the previous one would have finished on the wire; paced,
// one byte at a time, as a real line hands them over.
class ReplySchedule {
public:
    explicit ReplySchedule(int baud, bool paced = false) : baud_(baud), paced_(paced) {}

    void add(const QByteArray& bytes, double due);
    bool empty() const { return queue_.empty(); }
    // When the next chunk may be written (meaningless when empty).
    double nextDue() const { return queue_.front().due; }
    // The bytes to write now: the whole answer without a baud, else about 5 ms worth (one
    // byte when paced).
    QByteArray chunk() const;
    // `count` bytes of chunk() went out at `now`.
    void sent(int count, double now);

private:
    struct Pending {
        QByteArray bytes;
        double due;
    };
    double byteSeconds() const { return 10.0 / baud_; }
    // About 5 ms of line.
    int chunkBytes() const { return paced_ ? 1 : qMax(1, static_cast<int>(0.005 / byteSeconds())); }

    int baud_;
    bool paced_;
    std::deque<Pending> queue_;
    double lineFreeAt_ = 0.0;
};

} // namespace meterlink
