#pragma once

#include <QString>

#include <functional>

namespace meterlink {

// What the link opens: a device at a line speed, or why there is none to open.
struct LinkEndpoint {
    QString device;
    qint32 baud = 0;
    // Set when the endpoint cannot be opened at all (a speed that is no number, say);
    // the link then reports it as the port's reason and sends nothing.
    QString unusable;
};

// Asked for the endpoint whenever the port has yet to be opened successfully.
using EndpointSource = std::function<LinkEndpoint()>;

} // namespace meterlink
