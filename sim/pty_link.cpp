#include "sim/pty_link.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace meterlink {

namespace {

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PtyLink::~PtyLink() {
    removeLink();
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

bool PtyLink::open(QString* error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        *error = systemError("posix_openpt");
        return false;
    }
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        *error = systemError("grantpt/unlockpt");
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(master_, name, sizeof name) != 0) {
        *error = systemError("ptsname");
        return false;
    }
    device_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        *error = systemError("open pts");
        return false;
    }
    // Raw: no byte of a frame may be translated, echoed or taken as a signal.
    termios settings{};
    if (::tcgetattr(slave_, &settings) != 0) {
        *error = systemError("tcgetattr");
        return false;
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(slave_, TCSANOW, &settings) != 0) {
        *error = systemError("tcsetattr");
        return false;
    }
    return true;
}

bool PtyLink::linkAt(const QString& path, QString* error) {
    const QByteArray target = QFile::encodeName(device_);
    const QByteArray where = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(where.constData(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        *error = QStringLiteral("%1 exists and is not a symbolic link; not replacing it").arg(path);
        return false;
    }
    // Made aside and renamed over, so the path never names nothing or a half-made link.
    const QByteArray aside = where + ".tmp" + QByteArray::number(::getpid());
    ::unlink(aside.constData());
    if (::symlink(target.constData(), aside.constData()) != 0) {
        *error = systemError("symlink");
        return false;
    }
    if (::rename(aside.constData(), where.constData()) != 0) {
        *error = systemError("rename");
        ::unlink(aside.constData());
        return false;
    }
    link_ = path;
    return true;
}

void PtyLink::removeLink() {
    if (link_.isEmpty())
        return;
    const QByteArray where = QFile::encodeName(link_);
    char target[512] = {};
    const ssize_t n = ::readlink(where.constData(), target, sizeof target - 1);
    if (n > 0 && QFile::decodeName(QByteArray(target, static_cast<int>(n))) == device_)
        ::unlink(where.constData());
    link_.clear();
}

} // namespace meterlink
