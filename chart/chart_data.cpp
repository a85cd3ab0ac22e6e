#include "chart/chart_data.h"

namespace meterlink {

bool ChartData::empty() const {
    for (const ChannelSeries& channel : channels) {
        if (!channel.times.empty())
            return false;
    }
    return true;
}

QString ChartData::note() const {
    const QString left = leftOut.text();
    if (left.isEmpty() || dateOrder.isEmpty())
        return left + dateOrder;
    return left + QLatin1Char(' ') + dateOrder;
}

QString LeftOut::text() const {
    QStringList parts;
    auto add = [&](int count, const char* one, const char* many) {
        if (count > 0)
            parts << QString::fromLatin1(count == 1 ? one : many).arg(count);
    };
    add(limitValues, "%1 limit value (1E+37) left out", "%1 limit values (1E+37) left out");
    add(notNumbers, "%1 reading that is not a number left out",
        "%1 readings that are not numbers left out");
    add(undatedRows, "%1 row without a usable date and time left out",
        "%1 rows without a usable date and time left out");
    add(extraFieldRows, "%1 row with extra fields (the extras ignored)",
        "%1 rows with extra fields (the extras ignored)");
    add(shortRows, "%1 row with missing fields", "%1 rows with missing fields");
    add(repeatedTimes, "%1 repeated timestamp (kept)", "%1 repeated timestamps (kept)");
    add(yearsAdvanced, "the year advanced %1 time where the date went backwards",
        "the year advanced %1 times where the date went backwards");
    if (parts.isEmpty())
        return QString();
    QString text = parts.join(QLatin1String("; ")) + QLatin1Char('.');
    text[0] = text[0].toUpper();
    return text;
}

} // namespace meterlink
