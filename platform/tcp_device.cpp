#include "platform/tcp_device.h"

namespace meterlink {

namespace {

const QLatin1String kScheme("tcp://");

} // namespace

bool isTcpDeviceName(const QString& device) {
    return device.startsWith(kScheme, Qt::CaseInsensitive);
}

std::optional<TcpDevice> parseTcpDevice(const QString& device, QString* why) {
    const QString rest = device.mid(kScheme.size());
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    QString host = colon > 0 ? rest.left(colon) : QString();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = colon > 0 ? rest.mid(colon + 1).toUInt(&ok, 10) : 0;
    // A name, an IPv4 address or a bracketed IPv6 one; never a path or a user part.
    const bool hostOk = !host.isEmpty() && !host.contains(QLatin1Char('/')) &&
                        !host.contains(QLatin1Char('@')) && !host.contains(QLatin1Char(' ')) &&
                        (!host.contains(QLatin1Char(':')) || rest.startsWith(QLatin1Char('[')));
    if (!isTcpDeviceName(device) || !hostOk || !ok || port < 1 || port > 65535) {
        *why = QStringLiteral("a gateway is named tcp://HOST:PORT (port 1 to 65535), not \"%1\"")
                   .arg(device);
        return std::nullopt;
    }
    return TcpDevice{host, quint16(port)};
}

} // namespace meterlink
