#include "serial_port_name.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace meterlink {

namespace {

// Digits compare as numbers, so that ttyS2 comes before ttyS10 and COM9 before COM10.
bool naturalLess(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a[endA].isDigit())
                ++endA;
            while (endB < b.size() && b[endB].isDigit())
                ++endB;
            const QString numberA = a.mid(i, endA - i);
            const QString numberB = b.mid(j, endB - j);
            const qulonglong x = numberA.toULongLong();
            const qulonglong y = numberB.toULongLong();
            if (x != y)
                return x < y;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

QString numberedPort(int portNumber, PortNaming naming) {
    return naming == PortNaming::Windows ? QStringLiteral("COM%1").arg(portNumber)
                                         : QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
}

PortNaming currentNaming() {
#ifdef Q_OS_WIN
    return PortNaming::Windows;
#else
    return PortNaming::Unix;
#endif
}

} // namespace

CommTargets resolveCommPorts(const QList<FoundPort>& found, const CommLinks& links,
                             PortNaming naming) {
    // Windows port names ignore case.
    const auto same = [naming](const QString& a, const QString& b) {
        return a.compare(b, naming == PortNaming::Windows ? Qt::CaseInsensitive
                                                          : Qt::CaseSensitive) == 0;
    };
    QStringList taken;
    const auto isTaken = [&](const QString& device) {
        return std::any_of(taken.cbegin(), taken.cend(),
                           [&](const QString& t) { return same(t, device); });
    };
    const auto portNamed = [&](const QString& device) -> const FoundPort* {
        for (const FoundPort& port : found)
            if (same(port.device, device))
                return &port;
        return nullptr;
    };

    CommTargets targets;
    for (int i = 0; i < kPortOptionCount; ++i) {
        if (links[size_t(i)].isEmpty())
            continue;
        CommTarget& target = targets[size_t(i)];
        target.device = links[size_t(i)];
        target.linked = true;
        target.found = true;
        if (const FoundPort* port = portNamed(target.device))
            target.description = port->description;
        taken << target.device;
    }
    for (int i = 0; i < kPortOptionCount; ++i) {
        CommTarget& target = targets[size_t(i)];
        const FoundPort* port = portNamed(numberedPort(i + 1, naming));
        if (!target.device.isEmpty() || !port || isTaken(port->device))
            continue;
        target = CommTarget{port->device, port->description, false, true};
        taken << port->device;
    }

    QList<FoundPort> rest;
    for (const FoundPort& port : found)
        if (!isTaken(port.device))
            rest << port;
    std::stable_sort(rest.begin(), rest.end(), [](const FoundPort& a, const FoundPort& b) {
        if (a.usb != b.usb)
            return !a.usb;
        const QString& nameA = a.stableName.isEmpty() ? a.device : a.stableName;
        const QString& nameB = b.stableName.isEmpty() ? b.device : b.stableName;
        return naturalLess(nameA, nameB);
    });
    qsizetype next = 0;
    for (int i = 0; i < kPortOptionCount; ++i) {
        CommTarget& target = targets[size_t(i)];
        if (!target.device.isEmpty())
            continue;
        if (next < rest.size()) {
            const FoundPort& port = rest.at(next++);
            target = CommTarget{port.device, port.description, false, true};
            taken << port.device;
        }
    }
    // An option with nothing left keeps its classic name, so that opening it says why not.
    for (int i = 0; i < kPortOptionCount; ++i) {
        CommTarget& target = targets[size_t(i)];
        const QString classic = numberedPort(i + 1, naming);
        if (target.device.isEmpty() && !isTaken(classic)) {
            target.device = classic;
            taken << classic;
        }
    }
    return targets;
}

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

QString describeTarget(const CommTarget& target) {
    if (target.device.isEmpty())
        return QStringLiteral("no serial port left for this choice");
    if (!target.found && target.linked)
        return QStringLiteral("%1 — not there (named by a link in this folder)").arg(target.device);
    if (!target.found)
        return QStringLiteral("%1 — not found on this computer").arg(target.device);
    QString text = target.device;
    if (!target.description.isEmpty())
        text += QStringLiteral(" — ") + target.description;
    if (target.linked)
        text += QStringLiteral(" (by a link in this folder)");
    return text;
}

} // namespace meterlink
