#pragma once

#include <QString>

namespace meterlink {

// The settings variables: what the link, the download and the export read.
// The application owns one instance and passes references down.
struct Settings {
    qint16 PortNumber = 0;
    QString BaudText;
    qint16 SlaveId = 0;
    QString SaveFileName;
};

} // namespace meterlink
