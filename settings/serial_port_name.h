#pragma once

#include <QString>

namespace meterlink {

// The device that port option CommN stands for. On Windows it is COMn. Elsewhere it is
// the device a link named "comN" in `directory` points to, else /dev/ttyS(N-1).
QString serialDeviceName(int portNumber, const QString& directory = QStringLiteral("."));

} // namespace meterlink
