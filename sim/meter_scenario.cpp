// Scenario files: one statement a line; blank lines and lines starting with '#' are
// skipped; words are separated by blanks, texts are in double quotes (\" and \\ escape).
//
//   slave ID                       the meter's slave ID, 1 to 247
//   channel K "NAME"               channel K's name (1 to 8, at most 32 characters;
//                                  "Not Used" marks a channel out of use)
//   record K YYYY-MM-DD HH:MM V    a record of channel K (0 to 15) with reading V
//   raw B1 B2 B3 B4 B5 B6 B7 B8    a record given as 8 hex bytes, whatever they say
//   state START LAST               the state block's pointers, in bytes (default: from
//                                  the record count)
//   counters USED AVAILABLE        the state block's counters (default: from the count)
//   display N "TEXT"               display line N (1 to 4) fixed to TEXT
//   display-bytes N B1 B2 ...      display line N fixed to up to 20 hex bytes
//   display-mode menu|plain        the display's mode (plain shows "Keys: ...")
//
// Records go into the log in the order given.
#include "sim/meter_scenario.h"

#include <QList>

#include <cmath>

namespace meterlink {

namespace {

// Splits a line into words; a quoted text is one word. Fails on an open quote.
std::optional<QList<QByteArray>> splitWords(const QByteArray& line, QString* why) {
    QList<QByteArray> words;
    int i = 0;
    while (i < line.size()) {
        const char c = line.at(i);
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        QByteArray word;
        if (c == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char d = line.at(i++);
                if (d == '\\' && i < line.size()) {
                    word.append(line.at(i++));
                } else if (d == '"') {
                    closed = true;
                    break;
                } else {
                    word.append(d);
                }
            }
            if (!closed) {
                *why = QStringLiteral("unterminated quoted text");
                return std::nullopt;
            }
            word.prepend('"'); // marks a quoted word
        } else {
            while (i < line.size() && line.at(i) != ' ' && line.at(i) != '\t' && line.at(i) != '\r')
                word.append(line.at(i++));
        }
        words.append(word);
    }
    return words;
}

std::optional<int> number(const QByteArray& word, int min, int max) {
    bool ok = false;
    const int value = word.toInt(&ok, 10);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<QByteArray> quoted(const QByteArray& word) {
    if (!word.startsWith('"'))
        return std::nullopt;
    return word.mid(1);
}

std::optional<QByteArray> hexBytes(const QList<QByteArray>& words, int from) {
    QByteArray out;
    for (int i = from; i < words.size(); ++i) {
        bool ok = false;
        const uint value = words.at(i).toUInt(&ok, 16);
        if (!ok || value > 255 || words.at(i).size() > 2)
            return std::nullopt;
        out.append(static_cast<char>(value));
    }
    return out;
}

} // namespace

MeterScenario parseMeterScenario(const QByteArray& text) {
    MeterScenario scenario;
    scenario.log.clearRecords();
    const QList<QByteArray> lines = text.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        const QByteArray line = lines.at(index).trimmed();
        const auto fail = [&](const QString& why) {
            scenario.errors.append(QStringLiteral("line %1: %2").arg(index + 1).arg(why));
        };
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QString why;
        const auto split = splitWords(line, &why);
        if (!split) {
            fail(why);
            continue;
        }
        const QList<QByteArray>& w = *split;
        const QByteArray keyword = w.first();
        const int args = static_cast<int>(w.size()) - 1;

        if (keyword == "slave") {
            const auto id = args == 1 ? number(w.at(1), 1, 247) : std::nullopt;
            if (!id)
                fail(QStringLiteral("expected: slave ID (1 to 247)"));
            else
                scenario.slaveId = *id;
        } else if (keyword == "channel") {
            const auto k = args == 2 ? number(w.at(1), 1, 8) : std::nullopt;
            const auto name = args == 2 ? quoted(w.at(2)) : std::nullopt;
            if (!k || !name || name->size() > MeterLog::NameLength)
                fail(QStringLiteral("expected: channel K \"NAME\" (K 1 to 8, name up to 32 "
                                    "characters)"));
            else
                scenario.log.setChannelName(*k, QString::fromLatin1(*name));
        } else if (keyword == "record") {
            const auto k = args == 4 ? number(w.at(1), 0, 15) : std::nullopt;
            const QDateTime when =
                args == 4 ? QDateTime::fromString(QString::fromLatin1(w.at(2) + ' ' + w.at(3)),
                                                  QStringLiteral("yyyy-MM-dd HH:mm"))
                          : QDateTime();
            bool ok = false;
            const double value = args == 4 ? w.at(4).toDouble(&ok) : 0.0;
            if (!k || !when.isValid() || !ok || !std::isfinite(static_cast<float>(value)))
                fail(QStringLiteral("expected: record K YYYY-MM-DD HH:MM VALUE"));
            else if (!scenario.log.append(LogRecord::make(*k, when, static_cast<float>(value))))
                fail(QStringLiteral("the log is full"));
            else
                scenario.hasRecords = true;
        } else if (keyword == "raw") {
            const auto bytes = args == 8 ? hexBytes(w, 1) : std::nullopt;
            if (!bytes)
                fail(QStringLiteral("expected: raw and 8 hex bytes"));
            else if (!scenario.log.append(LogRecord::fromRaw(*bytes)))
                fail(QStringLiteral("the log is full"));
            else
                scenario.hasRecords = true;
        } else if (keyword == "state") {
            bool ok1 = false, ok2 = false;
            const qint64 start = args == 2 ? w.at(1).toLongLong(&ok1, 0) : 0;
            const qint64 last = args == 2 ? w.at(2).toLongLong(&ok2, 0) : 0;
            const qint64 limit = 255LL * MeterLog::BankBytes;
            if (!ok1 || !ok2 || start < 0 || last < 0 || start > limit || last > limit)
                fail(QStringLiteral("expected: state START LAST (bytes, 0 to %1)").arg(limit));
            else
                scenario.log.setPointers(start, last);
        } else if (keyword == "counters") {
            bool ok1 = false, ok2 = false;
            const float used = args == 2 ? w.at(1).toFloat(&ok1) : 0.0f;
            const float available = args == 2 ? w.at(2).toFloat(&ok2) : 0.0f;
            if (!ok1 || !ok2)
                fail(QStringLiteral("expected: counters USED AVAILABLE"));
            else
                scenario.log.setCounters(used, available);
        } else if (keyword == "display") {
            const auto n = args == 2 ? number(w.at(1), 1, 4) : std::nullopt;
            const auto text = args == 2 ? quoted(w.at(2)) : std::nullopt;
            if (!n || !text || text->size() > MeterDisplay::LineLength)
                fail(QStringLiteral("expected: display N \"TEXT\" (N 1 to 4, up to 20 "
                                    "characters)"));
            else
                scenario.displayLines[*n - 1] = *text;
        } else if (keyword == "display-bytes") {
            const auto n = args >= 1 ? number(w.at(1), 1, 4) : std::nullopt;
            const auto bytes = args >= 1 ? hexBytes(w, 2) : std::nullopt;
            if (!n || !bytes || bytes->size() > MeterDisplay::LineLength)
                fail(QStringLiteral("expected: display-bytes N and up to 20 hex bytes"));
            else
                scenario.displayLines[*n - 1] = *bytes;
        } else if (keyword == "display-mode") {
            if (args == 1 && w.at(1) == "menu")
                scenario.displayMode = MeterDisplay::Mode::Menu;
            else if (args == 1 && w.at(1) == "plain")
                scenario.displayMode = MeterDisplay::Mode::Plain;
            else
                fail(QStringLiteral("expected: display-mode menu|plain"));
        } else {
            fail(QStringLiteral("unknown statement \"%1\"")
                     .arg(QString::fromLatin1(keyword.left(40))));
        }
    }
    return scenario;
}

QString meterScenarioHelp() {
    return QStringLiteral(
        "Scenario file: one statement a line; '#' starts a comment line.\n"
        "  slave ID                      slave ID, 1 to 247\n"
        "  channel K \"NAME\"              channel K's name (1-8; \"Not Used\": out of use)\n"
        "  record K YYYY-MM-DD HH:MM V   a record of channel K with reading V\n"
        "  raw B1 ... B8                 a record as 8 hex bytes (e.g. 25 17 09 30 41 48 00 00)\n"
        "  state START LAST              the state block's pointers in bytes\n"
        "  counters USED AVAILABLE       the state block's record counters\n"
        "  display N \"TEXT\"              display line N (1-4) fixed to TEXT\n"
        "  display-bytes N B1 ...        display line N fixed to hex bytes\n"
        "  display-mode menu|plain       plain shows the keys received on line 4\n");
}

} // namespace meterlink
