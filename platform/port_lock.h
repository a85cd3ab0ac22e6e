#pragma once

#include <QString>

namespace meterlink {

// An advisory lock per line, held until released or destroyed, so that two programs never
// talk over each other on one line: exclusive open does not stop root, a lock does. The
// lock file says who holds it ("4242 meterlink-cli"). Never waits for the holder.
class PortLock {
public:
    PortLock() = default;
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    enum Result { Locked, HeldByAnother, Failed };
    // `why` names the holder ("/dev/ttyUSB0: the port is in use by meterlink-cli, pid 4242"),
    // or says why the lock file could not be used. A path that reaches nothing is "locked"
    // without a file: there is no line to guard, and no file is left behind for it.
    Result tryLock(const QString& endpoint, QString* why);
    void release();
    // The key of the line held; empty when none is.
    QString heldKey() const { return key_; }

    // The name a line's lock goes by. A path: the device it reaches, links resolved, so
    // that every name of one device shares a lock; empty when it reaches nothing. Anything
    // else ("host:502") stands for itself.
    static QString keyOf(const QString& endpoint);
    // The lock file of a line (empty for an empty key), in lockFolder().
    static QString lockFilePath(const QString& endpoint);
    // $METERLINK_LOCK_DIR when set; else /run/meterlink, which the package makes for every
    // user of the serial ports (a folder without the sticky bit, where root may open a
    // file another user made); else the user's runtime folder.
    static QString lockFolder();

private:
    int fd_ = -1;
    QString key_;
};

} // namespace meterlink
