#include "sim/meter_faults.h"

#include <QStringList>
#include <cmath>

namespace meterlink {

namespace {

std::optional<int> wholeNumber(const QString& text, int min, int max) {
    bool ok = false;
    const int value = text.toInt(&ok, 0);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<QString> MeterFaults::add(const QString& option) {
    const QStringList parts = option.split(QLatin1Char(':'));
    const QString kind = parts.first();
    const int args = static_cast<int>(parts.size()) - 1;
    const auto bad = [&](const QString& why) {
        return std::optional<QString>(QStringLiteral("fault \"%1\": %2").arg(option, why));
    };
    const auto count = [&](int index) { return wholeNumber(parts.value(index), 1, 1000000); };

    if (kind == QLatin1String("silent") && args == 0) {
        silent = true;
    } else if (kind == QLatin1String("noise") && args == 0) {
        noise = true;
    } else if (kind == QLatin1String("ignore") && args == 1) {
        const auto k = count(1);
        if (!k)
            return bad(QStringLiteral("K must be a whole number from 1"));
        ignoreEvery = *k;
    } else if (kind == QLatin1String("badcrc") && args <= 1) {
        const auto k = args == 0 ? std::optional<int>(1) : count(1);
        if (!k)
            return bad(QStringLiteral("K must be a whole number from 1"));
        badCrcEvery = *k;
    } else if (kind == QLatin1String("exception") && (args == 1 || args == 2)) {
        const auto code = wholeNumber(parts.value(1), 1, 255);
        if (!code)
            return bad(QStringLiteral("the code must lie within 1 to 255"));
        const auto function =
            args == 2 ? wholeNumber(parts.value(2), 1, 127) : std::optional<int>(0);
        if (!function)
            return bad(QStringLiteral("the function must lie within 1 to 127"));
        exceptionCode = *code;
        exceptionFunction = *function;
    } else if (kind == QLatin1String("truncate") && args == 1) {
        const auto k = wholeNumber(parts.value(1), 0, 1000000);
        if (!k)
            return bad(QStringLiteral("K must be a whole number from 0"));
        truncateAfter = *k;
    } else if (kind == QLatin1String("delay") && args == 1) {
        bool ok = false;
        const double seconds = parts.value(1).toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0.0 || seconds > 3600.0)
            return bad(QStringLiteral("SECONDS must lie within 0 to 3600"));
        delaySeconds = seconds;
    } else if (kind == QLatin1String("latency") && args == 1) {
        const auto ms = wholeNumber(parts.value(1), 0, 60000);
        if (!ms)
            return bad(QStringLiteral("MS must be a whole number from 0 to 60000"));
        latencyMs = *ms;
    } else if (kind == QLatin1String("drop") && args == 1) {
        const auto k = count(1);
        if (!k)
            return bad(QStringLiteral("K must be a whole number from 1"));
        dropAt = *k;
    } else {
        return bad(QStringLiteral("unknown kind or wrong number of arguments"));
    }
    return std::nullopt;
}

} // namespace meterlink
