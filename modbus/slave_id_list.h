#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace meterlink {

// Slave IDs as the command lines take them: "1,2,7" or "3-5" or both ("1,3-5"): whole numbers
// within [min, max], each once, in the order given. Empty when the text is not such a list.
inline std::optional<QList<int>> parseIdList(const QString& text, int min, int max) {
    QList<int> ids;
    const auto number = [&](const QString& word) -> std::optional<int> {
        bool ok = false;
        const int value = word.trimmed().toInt(&ok, 10);
        if (!ok || value < min || value > max || !word.trimmed().at(0).isDigit())
            return std::nullopt;
        return value;
    };
    for (const QString& part : text.split(QLatin1Char(','))) {
        if (part.trimmed().isEmpty())
            return std::nullopt;
        const QStringList ends = part.split(QLatin1Char('-'));
        if (ends.size() > 2 || ends.first().trimmed().isEmpty() || ends.last().trimmed().isEmpty())
            return std::nullopt;
        const auto first = number(ends.first());
        const auto last = number(ends.last());
        if (!first || !last || *last < *first)
            return std::nullopt;
        for (int id = *first; id <= *last; ++id)
            if (!ids.contains(id))
                ids.append(id);
    }
    return ids;
}

} // namespace meterlink
