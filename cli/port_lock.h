#pragma once

#include <QString>

namespace meterlink {

// An advisory lock per serial device, held until destroyed, so that two scheduled runs
// never talk over each other on one line. Exclusive open does not stop root (what a
// system unit runs as by default); a lock file does. Never waits for the other run.
class PortLock {
public:
    PortLock() = default;
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    enum Result { Locked, HeldByAnother, Failed };
    // `why` says who holds it, or why the lock file could not be used.
    Result tryLock(const QString& device, QString* why);

    // The lock file of a device: the same for every name that reaches it.
    static QString lockFilePath(const QString& device);

private:
    int fd_ = -1;
};

} // namespace meterlink
