#pragma once

#include <QString>

#include <optional>

namespace meterlink {

// A serial line reached through a network gateway: "tcp://HOST:PORT" where a device path
// would stand. IPv6 literals go in brackets, tcp://[::1]:502.
struct TcpDevice {
    QString host; // as given, brackets removed
    quint16 port = 0;
};

// True when the name asks for a gateway (whether or not the rest is well formed).
bool isTcpDeviceName(const QString& device);

// The host and port; nothing, with `why` set, when the rest is not HOST:PORT.
std::optional<TcpDevice> parseTcpDevice(const QString& device, QString* why);

} // namespace meterlink
