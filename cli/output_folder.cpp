#include "cli/output_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace meterlink {

QString outputFolderProblem(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    const auto problem = [&](const QString& why) {
        return QStringLiteral("Cannot write %1: the folder %2: %3")
            .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(folder), why);
    };
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(folder);
    struct stat info {};
    int error = 0;
    if (::stat(name.constData(), &info) != 0)
        error = errno;
    else if (!S_ISDIR(info.st_mode))
        error = ENOTDIR;
    // access() asks as the kernel would at the write: root, ACLs and read-only mounts included.
    else if (::access(name.constData(), W_OK | X_OK) != 0)
        error = errno;
    return error == 0 ? QString() : problem(QString::fromLocal8Bit(std::strerror(error)));
#else
    const QFileInfo info(folder);
    if (!info.exists())
        return problem(QStringLiteral("No such file or directory"));
    if (!info.isDir())
        return problem(QStringLiteral("Not a directory"));
    if (!info.isWritable())
        return problem(QStringLiteral("Permission denied"));
    return QString();
#endif
}

} // namespace meterlink
