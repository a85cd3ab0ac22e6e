#include "serial_port_name.h"

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

} // namespace

QString numberedPort(int portNumber, PortNaming naming) {
    return naming == PortNaming::Windows ? QStringLiteral("COM%1").arg(portNumber)
                                         : QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
}

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
