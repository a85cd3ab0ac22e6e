#include "cli/port_listing.h"

namespace meterlink {

QString portListing(const QList<FoundPort>& found, const CommTargets& targets) {
    QString text = QStringLiteral("Serial ports found:\n");
    if (found.isEmpty())
        text += QStringLiteral("  none\n");
    int width = 0;
    for (const FoundPort& port : found)
        width = qMax(width, int(port.device.size()));
    for (const FoundPort& port : found) {
        QString line = QStringLiteral("  ") + port.device.leftJustified(width);
        line +=
            QStringLiteral("  ") +
            (port.description.isEmpty() ? QStringLiteral("(no description)") : port.description);
        if (!port.stableName.isEmpty())
            line += QStringLiteral("  ") + port.stableName;
        text += line + QLatin1Char('\n');
    }
    text += QStringLiteral("Port choices (--port N, the window's Comm1 to Comm4):\n");
    for (size_t i = 0; i < targets.size(); ++i)
        text += QStringLiteral("  Comm%1  %2\n").arg(i + 1).arg(describeTarget(targets[i]));
    return text;
}

} // namespace meterlink
