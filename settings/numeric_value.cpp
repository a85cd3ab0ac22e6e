#include "settings/numeric_value.h"

#include <QByteArray>

#include <cmath>
#include <limits>

namespace meterlink {

namespace {

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Digits beyond this add nothing a double can hold.
constexpr int kKeptDigits = 40;
// Caps the exponent arithmetic; far beyond any text length, so no sum can overflow.
constexpr long long kExponentLimit = 1'000'000'000'000'000LL;

} // namespace

double numericValue(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t')) {
        ++i;
    }
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }

    // Mantissa as significant digits plus a decimal exponent, so a megabyte of digits costs
    // one pass and a short conversion.
    QByteArray digits;
    bool sawDigit = false;
    bool sawPoint = false;
    long long exponent = 0;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'.' && !sawPoint) {
            sawPoint = true;
            continue;
        }
        if (!isDigit(c)) {
            break;
        }
        sawDigit = true;
        if (digits.isEmpty() && c == u'0') {
            if (sawPoint && exponent > -kExponentLimit) {
                --exponent; // leading zero after the point
            }
            continue;
        }
        if (digits.size() < kKeptDigits) {
            digits.append(char(c.unicode()));
            if (sawPoint) {
                --exponent;
            }
        } else if (!sawPoint && exponent < kExponentLimit) {
            ++exponent;
        }
    }
    if (!sawDigit) {
        return 0.0;
    }

    // An exponent counts only when at least one digit follows the letter and its sign.
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        bool expNegative = false;
        if (j < n && (text[j] == u'+' || text[j] == u'-')) {
            expNegative = text[j] == u'-';
            ++j;
        }
        if (j < n && isDigit(text[j])) {
            long long written = 0;
            for (; j < n && isDigit(text[j]); ++j) {
                if (written < kExponentLimit) {
                    written = written * 10 + (text[j].unicode() - u'0');
                }
            }
            exponent += expNegative ? -written : written;
        }
    }

    if (digits.isEmpty()) {
        return negative ? -0.0 : 0.0;
    }
    const long long magnitude = exponent + digits.size();
    double value;
    if (magnitude > 400) {
        value = std::numeric_limits<double>::infinity();
    } else if (magnitude < -400) {
        value = 0.0;
    } else {
        digits.append('e');
        digits.append(QByteArray::number(qlonglong(exponent)));
        bool ok = false;
        value = digits.toDouble(&ok);
        if (!ok && !std::isinf(value)) {
            value = 0.0; // underflow
        }
    }
    return negative ? -value : value;
}

std::optional<qint16> roundToInt16(double value) {
    if (std::isnan(value)) {
        return std::nullopt;
    }
    // The default rounding mode is to nearest, ties to even.
    const double rounded = std::nearbyint(value);
    if (rounded < -32768.0 || rounded > 32767.0) {
        return std::nullopt;
    }
    return static_cast<qint16>(rounded);
}

qint16 roundToInt16Saturating(double value) {
    if (const auto fits = roundToInt16(value)) {
        return *fits;
    }
    return value < 0 ? std::numeric_limits<qint16>::min() : std::numeric_limits<qint16>::max();
}

} // namespace meterlink
