#include "platform/port_lock.h"

#include "platform/tcp_device.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace meterlink {

namespace {

bool looksLikePath(const QString& endpoint) {
    return endpoint.startsWith(QLatin1Char('/')) || endpoint.startsWith(QLatin1Char('.')) ||
           !endpoint.contains(QLatin1Char(':')) || QFileInfo::exists(endpoint);
}

#ifdef Q_OS_UNIX
QString programName() {
    if (QCoreApplication::instance()) {
        const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        if (!name.isEmpty())
            return name;
    }
    return QStringLiteral("meterlink");
}

QString systemWords(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Who the file says holds the lock: "meterlink-cli, pid 4242". What a file holds may be
// anything; only a live pid and a plain name are believed.
QString holderOf(int fd) {
    // The holder writes its line just after it locks: look again briefly if it is not there.
    for (int look = 0; look < 5; ++look) {
        char text[128] = {};
        const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
        const QString line =
            QString::fromUtf8(text, got > 0 ? qsizetype(got) : 0).section(QLatin1Char('\n'), 0, 0);
        bool ok = false;
        const qint64 pid = line.section(QLatin1Char(' '), 0, 0).toLongLong(&ok);
        QString name = line.section(QLatin1Char(' '), 1).trimmed();
        static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._+-]{1,40}$"));
        if (ok && pid > 0 && pid <= 0x7fffffff && (::kill(pid_t(pid), 0) == 0 || errno == EPERM)) {
            if (!plain.match(name).hasMatch())
                name = QStringLiteral("another program");
            return QStringLiteral("%1, pid %2").arg(name).arg(pid);
        }
        QThread::msleep(20);
    }
    return QStringLiteral("another program");
}
#endif

} // namespace

PortLock::~PortLock() {
    release();
}

void PortLock::release() {
#ifdef Q_OS_UNIX
    if (fd_ >= 0) {
        // The holder's line goes with the lock; the file stays, as taking a lock on a file
        // another may be about to open and delete is a race.
        // (read-only: another user's file, whose line stays as it was)
        [[maybe_unused]] const int cleared = ::ftruncate(fd_, 0);
        ::close(fd_);
    }
#endif
    fd_ = -1;
    key_.clear();
}

QString PortLock::keyOf(const QString& endpoint) {
    if (endpoint.isEmpty())
        return QString();
    // A gateway's line is known by its host as given, in lower case, and its port.
    if (isTcpDeviceName(endpoint)) {
        QString unused;
        if (const auto gateway = parseTcpDevice(endpoint, &unused))
            return QStringLiteral("-tcp-%1-%2").arg(gateway->host.toLower()).arg(gateway->port);
        return endpoint.toLower();
    }
    if (looksLikePath(endpoint))
        return QFileInfo(endpoint).canonicalFilePath();
    return endpoint;
}

QString PortLock::lockFolder() {
    const QString chosen = qEnvironmentVariable("METERLINK_LOCK_DIR");
    if (!chosen.isEmpty())
        return chosen;
    const QString system = QStringLiteral("/run/meterlink");
    if (QFileInfo(system).isDir())
        return system;
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

QString PortLock::lockFilePath(const QString& endpoint) {
    QString name = keyOf(endpoint);
    if (name.isEmpty())
        return QString();
    for (QChar& c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('.') &&
            c != QLatin1Char('-'))
            c = QLatin1Char('_');
    return QDir(lockFolder()).filePath(QStringLiteral("meterlink%1.lock").arg(name));
}

PortLock::Result PortLock::tryLock(const QString& endpoint, QString* why) {
    release();
#ifdef Q_OS_UNIX
    const QString key = keyOf(endpoint);
    if (key.isEmpty())
        return Locked;
    const QString path = lockFilePath(endpoint);
    const QByteArray name = QFile::encodeName(path);
    // An existing file is opened without O_CREAT: with fs.protected_regular, root may not
    // open with O_CREAT a file another user made in a sticky folder, but may open it.
    bool writable = true;
    int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    for (int attempt = 0; fd < 0 && attempt < 3; ++attempt) {
        if (errno == ENOENT) {
            fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            // Whoever comes next, root or not, may write its own line into it.
            if (fd >= 0)
                ::fchmod(fd, 0666);
            else if (errno == EEXIST)
                fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        } else if (errno == EACCES) {
            // Another user's file we may not write: a lock needs only reading.
            writable = false;
            fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        } else {
            break;
        }
    }
    if (fd < 0) {
        *why = QStringLiteral("cannot use the lock file %1: %2").arg(path, systemWords(errno));
        return Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            *why = QStringLiteral("%1: the port is in use by %2").arg(endpoint, holderOf(fd));
        } else {
            *why = QStringLiteral("cannot lock %1: %2").arg(path, systemWords(error));
        }
        ::close(fd);
        return error == EWOULDBLOCK ? HeldByAnother : Failed;
    }
    fd_ = fd;
    key_ = key;
    if (writable) {
        const QByteArray line =
            QByteArray::number(qint64(::getpid())) + ' ' + programName().toUtf8() + '\n';
        // Should this fail, the lock holds without its line: others read "another program".
        if (::ftruncate(fd, 0) == 0) {
            [[maybe_unused]] const ssize_t put =
                ::pwrite(fd, line.constData(), size_t(line.size()), 0);
        }
    }
    return Locked;
#else
    // Windows opens a COM port for one process only.
    Q_UNUSED(why);
    key_ = keyOf(endpoint);
    return Locked;
#endif
}

} // namespace meterlink
