#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace meterlink {

// The meter's own CRC-16 (reflected 0xA001, start 0xFFFF). Kept apart from the link's
// so that the two ends of the line check each other instead of sharing a mistake.
quint16 simCrc16(const QByteArray& bytes);

// The frame followed by its CRC, low byte first.
QByteArray withSimCrc(const QByteArray& frame);

// True when the last two bytes are the CRC of the ones before them.
bool hasValidSimCrc(const QByteArray& frame);

} // namespace meterlink
