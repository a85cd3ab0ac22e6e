#pragma once

#include <QByteArray>
#include <QString>

namespace meterlink {

// The character printed where the window shows a cleaned-away byte (code 157) or any other
// byte a terminal cannot show as it stands: U+2592, a shaded box.
inline constexpr char16_t kUnprintableSubstitute = u'\u2592';

// Meter bytes (one character per byte, the ANSI code page) as printable text: the same
// number of characters, controls and unassigned codes as the substitute. Keeps a terminal
// safe from escape sequences in an answer.
QString printableMeterText(const QByteArray& bytes);

} // namespace meterlink
