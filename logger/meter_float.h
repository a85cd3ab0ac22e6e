#pragma once

#include <QString>

namespace meterlink {

// The meter's 4-byte float (IEEE single, most significant byte first) with the meter's
// limits: every combination of bytes gives a number, never an infinity or a NaN.
float DecodeMeterFloat(qint32 b1, qint32 b2, qint32 b3, qint32 b4);

// A reading as the grid and the file show it: a blank or a minus sign, then at most seven
// significant digits with "." whatever the locale (" 12.5", "-0.25", " 1E+37").
QString MeterFloatText(float value);

// A counter: the largest integer not above the value, with a leading blank when it is not
// negative (12.9 gives " 12", -0.5 gives "-1").
QString CounterText(float value);

} // namespace meterlink
