#include "cli/port_lock.h"

#include "platform/tcp_device.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace meterlink {

PortLock::~PortLock() {
#ifdef Q_OS_UNIX
    if (fd_ >= 0)
        ::close(fd_); // releases the lock
#endif
}

QString PortLock::lockFilePath(const QString& device) {
    // A link such as ./com1 and the device it names share one lock; a gateway's line is
    // known by its host as given, in lower case, and port.
    const QString canonical = QFileInfo(device).canonicalFilePath();
    QString name = canonical.isEmpty() ? QFileInfo(device).absoluteFilePath() : canonical;
    QString unused;
    if (const auto gateway =
            isTcpDeviceName(device) ? parseTcpDevice(device, &unused) : std::nullopt)
        name = QStringLiteral("-tcp-%1-%2").arg(gateway->host.toLower()).arg(gateway->port);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    name.replace(QLatin1Char(':'), QLatin1Char('_'));
    // Where every user sees the same file; the temporary folder only as the last resort.
    QString folder = QDir::tempPath();
    for (const char* candidate : {"/run/lock", "/var/lock"}) {
        const QFileInfo info(QString::fromLatin1(candidate));
        if (info.isDir() && info.isWritable()) {
            folder = info.absoluteFilePath();
            break;
        }
    }
    return QDir(folder).filePath(QStringLiteral("meterlink%1.lock").arg(name));
}

PortLock::Result PortLock::tryLock(const QString& device, QString* why) {
#ifdef Q_OS_UNIX
    const QString path = lockFilePath(device);
    // Read-only is enough for flock, so a lock file another user made still serves.
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        *why = QStringLiteral("cannot make the lock file %1: %2")
                   .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return Failed;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        *why = error == EWOULDBLOCK
                   ? QStringLiteral("%1 is in use by another meterlink-cli run (lock %2); not "
                                    "waiting for it")
                         .arg(device, path)
                   : QStringLiteral("cannot lock %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(error)));
        return error == EWOULDBLOCK ? HeldByAnother : Failed;
    }
    return Locked;
#else
    // Windows opens a COM port for one process only.
    Q_UNUSED(device);
    Q_UNUSED(why);
    return Locked;
#endif
}

} // namespace meterlink
