#pragma once

#include <QStringView>

#include <optional>

namespace meterlink {

// The leading number of a text: blanks skipped, optional sign, digits with at most one
// decimal point, optional exponent. Reading stops at the first character that cannot
// continue the number; a text without one gives 0. Too large a number gives +/-infinity.
double numericValue(QStringView text);

// Rounds to the nearest integer, halves to the even neighbour. Empty when the result does
// not fit 16 bits, so callers decide what an out-of-range value means for them.
std::optional<qint16> roundToInt16(double value);

// As roundToInt16, but a value beyond 16 bits becomes the nearest bound (-32768 or 32767).
// Used for the slave ID: 70000 must stay an invalid address, not wrap or turn into 0,
// which would be the broadcast address.
qint16 roundToInt16Saturating(double value);

} // namespace meterlink
