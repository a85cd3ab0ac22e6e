#pragma once

#include <QByteArray>

namespace meterlink {

// Pending key characters for the meter, oldest first. No length limit: a key is only
// dropped once the meter has taken it.
class KeyBuffer {
public:
    void append(char key) { keys_.append(key); }
    bool isEmpty() const { return keys_.isEmpty(); }
    int size() const { return int(keys_.size()); }
    char first() const { return keys_.isEmpty() ? '\0' : keys_.front(); }
    // Keys queued while the first one was being sent stay behind it.
    void removeFirst() {
        if (!keys_.isEmpty())
            keys_.remove(0, 1);
    }
    const QByteArray& text() const { return keys_; }

private:
    QByteArray keys_;
};

} // namespace meterlink
