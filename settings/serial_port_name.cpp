#include "serial_port_name.h"

#include <QDir>
#include <QFileInfo>

namespace meterlink {

QString serialDeviceName(int portNumber, const QString& directory) {
#ifdef Q_OS_WIN
    Q_UNUSED(directory);
    return QStringLiteral("COM%1").arg(portNumber);
#else
    const QFileInfo link(QDir(directory).filePath(QStringLiteral("com%1").arg(portNumber)));
    if (link.isSymLink()) {
        // A link whose target is gone still names the device the user meant; opening it
        // then fails with the system's own reason.
        return link.symLinkTarget();
    }
    if (link.exists()) {
        return link.absoluteFilePath();
    }
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

} // namespace meterlink
