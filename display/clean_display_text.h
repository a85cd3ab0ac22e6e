#pragma once

#include <QByteArray>
#include <QString>

namespace meterlink {

// The character the meter's unprintable display codes are shown as.
constexpr unsigned char kUnprintableDisplayCode = 157;

// A copy of the display bytes with every code of 10 or less, or 254 or more, replaced by
// code 157; same length.
QByteArray CleanDisplayText(const QByteArray& text);

// Display bytes as text, one character per byte (code 157 becomes U+009D).
QString displayLineText(const QByteArray& bytes);

} // namespace meterlink
