#include "platform/serial_port_search.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace meterlink {

namespace {

PortNaming currentNaming() {
#ifdef Q_OS_WIN
    return PortNaming::Windows;
#else
    return PortNaming::Unix;
#endif
}

} // namespace

QList<FoundPort> findSerialPorts() {
    QList<FoundPort> ports;
#ifndef Q_OS_WIN
    // Adapters' names that survive replugging, by the device they name now.
    QList<QPair<QString, QString>> stableNames;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& entry : byId.entryInfoList(QDir::System | QDir::Files, QDir::Name))
        stableNames.append({entry.canonicalFilePath(), entry.absoluteFilePath()});
#endif
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        FoundPort port;
#ifdef Q_OS_WIN
        port.device = info.portName();
#else
        port.device = info.systemLocation();
        for (const auto& [device, stable] : stableNames)
            if (device == port.device)
                port.stableName = stable;
#endif
        port.description = info.description();
        if (port.description.isEmpty())
            port.description = info.manufacturer();
        port.usb = info.hasVendorIdentifier();
        ports << port;
    }
#ifdef Q_OS_LINUX
    // An on-board UART is real when the serial core gives it a type (0: no UART). Asked here
    // rather than left to the enumeration, which opens the device to find out, so that a busy
    // port or one the user may not open is neither missed nor taken for real when it is not.
    const QDir ttys(QStringLiteral("/sys/class/tty"), QStringLiteral("ttyS*"));
    for (const QString& name : ttys.entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot)) {
        QFile type(ttys.filePath(name + QStringLiteral("/type")));
        if (!type.open(QIODevice::ReadOnly))
            continue;
        const bool real = type.readAll().trimmed().toInt() != 0;
        const QString device = QStringLiteral("/dev/") + name;
        const auto listed = std::find_if(ports.begin(), ports.end(), [&](const FoundPort& port) {
            return port.device == device;
        });
        if (real && listed == ports.end())
            ports << FoundPort{device, QString(), QString(), false};
        else if (!real && listed != ports.end())
            ports.erase(listed);
    }
#endif
    // On-board UARTs come without words of their own.
    for (FoundPort& port : ports)
        if (port.description.isEmpty() && !port.usb)
            port.description = QStringLiteral("built-in serial port");
    return ports;
}

CommLinks findCommLinks(const QString& directory) {
    CommLinks links;
#ifdef Q_OS_WIN
    Q_UNUSED(directory);
#else
    for (int i = 0; i < kPortOptionCount; ++i) {
        const QFileInfo link(QDir(directory).filePath(QStringLiteral("com%1").arg(i + 1)));
        if (link.isSymLink()) {
            // A link whose target is gone still names the device the user meant; opening it
            // then fails with the system's own reason.
            const QString device = link.canonicalFilePath();
            links[size_t(i)] = device.isEmpty() ? link.symLinkTarget() : device;
        } else if (link.exists()) {
            links[size_t(i)] = link.absoluteFilePath();
        }
    }
#endif
    return links;
}

CommTargets currentCommTargets(const QString& directory) {
    CommTargets targets =
        resolveCommPorts(findSerialPorts(), findCommLinks(directory), currentNaming());
    // A link still names the device the user meant after it went away (an adapter
    // unplugged, a simulator ended): marked, so that the choice is not taken for working.
    for (CommTarget& target : targets)
        if (target.linked && !QFileInfo::exists(target.device))
            target.found = false;
    return targets;
}

QString serialDeviceName(int portNumber, const QString& directory) {
    if (portNumber < 1 || portNumber > kPortOptionCount)
        return numberedPort(portNumber, currentNaming());
    const CommTarget target = currentCommTargets(directory)[size_t(portNumber - 1)];
    // A comN link is opened as the link, never as the node it names now: a device that comes
    // back under a new node is then reopened where the link points by then.
    if (target.linked)
        return QFileInfo(QDir(directory).filePath(QStringLiteral("com%1").arg(portNumber)))
            .absoluteFilePath();
    return target.device;
}

} // namespace meterlink
