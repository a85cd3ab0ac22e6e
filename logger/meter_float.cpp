#include "logger/meter_float.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace meterlink {

namespace {

constexpr float upperLimit = 1E37f;
constexpr float lowerLimit = 1E-37f;

// Plain notation from 1E-4 up to below 1E7, as far as seven digits reach without padding.
constexpr int firstExponentAbove = 7;
constexpr int lastExponentBelow = -4;

QString magnitudeText(double magnitude) {
    // Seven significant digits, rounded once; the exponent decides the notation. The C
    // library's formatting follows LC_NUMERIC, whose decimal point may not even be one byte.
    char buffer[32];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, 6);
    const QByteArray scientific(buffer, int(written.ptr - buffer));
    const int ePos = scientific.indexOf('e');
    QByteArray digits = scientific.left(ePos);
    digits.remove(1, 1); // the decimal point after the first digit
    while (digits.size() > 1 && digits.endsWith('0'))
        digits.chop(1);
    const int exponent = scientific.mid(ePos + 1).toInt();

    if (exponent >= firstExponentAbove || exponent < lastExponentBelow) {
        QByteArray text = digits.left(1);
        if (digits.size() > 1)
            text += '.' + digits.mid(1);
        text += exponent < 0 ? "E-" : "E+";
        text += QByteArray::number(std::abs(exponent)).rightJustified(2, '0');
        return QString::fromLatin1(text);
    }
    if (exponent < 0)
        return QString::fromLatin1("0." + QByteArray(-exponent - 1, '0') + digits);
    if (digits.size() <= exponent + 1)
        return QString::fromLatin1(digits + QByteArray(exponent + 1 - digits.size(), '0'));
    return QString::fromLatin1(digits.left(exponent + 1) + '.' + digits.mid(exponent + 1));
}

} // namespace

float DecodeMeterFloat(qint32 b1, qint32 b2, qint32 b3, qint32 b4) {
    const bool negative = b1 > 127;
    const int exponent = (b1 & 127) * 2 + (b2 > 127 ? 1 : 0);
    const qint32 mantissa = ((b2 | 128) & 255) * 65536 + (b3 & 255) * 256 + (b4 & 255);

    if (exponent < 2)
        return negative ? -lowerLimit : 0.0f;
    if (exponent > 252)
        return negative ? -upperLimit : upperLimit;

    const float value =
        static_cast<float>((negative ? -1.0 : 1.0) * std::ldexp(double(mantissa), exponent - 150));
    // Negative values mirror the limits of the special cases: the sign always survives.
    if (value > upperLimit)
        return upperLimit;
    if (value < -upperLimit)
        return -upperLimit;
    if (value > 0.0f && value < lowerLimit)
        return 0.0f;
    if (value < 0.0f && value > -lowerLimit)
        return -lowerLimit;
    return value;
}

QString MeterFloatText(float value) {
    if (std::isnan(value))
        return QStringLiteral(" 0");
    if (value == 0.0f)
        return QStringLiteral(" 0");
    const QChar sign = value < 0.0f ? QLatin1Char('-') : QLatin1Char(' ');
    if (std::isinf(value))
        return sign + QStringLiteral("1E+37");
    return sign + magnitudeText(std::fabs(double(value)));
}

QString CounterText(float value) {
    if (!std::isfinite(value))
        return MeterFloatText(value);
    const double whole = std::floor(double(value));
    // Beyond 15 digits a decimal integer only shows float noise.
    if (std::fabs(whole) >= 1e15)
        return MeterFloatText(float(whole));
    const qint64 integer = qint64(whole);
    return (integer < 0 ? QString() : QStringLiteral(" ")) + QString::number(integer);
}

} // namespace meterlink
