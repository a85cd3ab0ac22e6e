#include "sim/meter_display.h"

#include <cmath>

namespace meterlink {

namespace {

QByteArray fit(const QString& text) {
    QByteArray bytes = text.toLatin1().left(MeterDisplay::LineLength);
    return bytes + QByteArray(MeterDisplay::LineLength - bytes.size(), ' ');
}

// Label on the left, value on the right of one 20-character line.
QString spread(const QString& left, const QString& right) {
    const int gap = qMax(1, MeterDisplay::LineLength - left.size() - right.size());
    return left + QString(gap, QLatin1Char(' ')) + right;
}

} // namespace

const std::array<MeterDisplay::Item, 5>& MeterDisplay::items() {
    static const std::array<Item, 5> list{{{"Flow units", ""},
                                           {"Damping", "s"},
                                           {"Log interval", "min"},
                                           {"Slave ID", ""},
                                           {"Total reset", ""}}};
    return list;
}

bool MeterDisplay::isKey(char key) {
    return (key >= '0' && key <= '9') || QByteArray(".NLMEF").contains(key);
}

void MeterDisplay::setFixedLine(int index, const QByteArray& bytes) {
    if (index < 0 || index >= LineCount)
        return;
    QByteArray line = bytes.left(LineLength);
    fixed_[index] = line + QByteArray(LineLength - line.size(), ' ');
}

void MeterDisplay::pressKey(char key, double) {
    if (!isKey(key))
        return;
    keys_.append(QLatin1Char(key));
    const bool typing = (key >= '0' && key <= '9') || (key == '.' && screen_ == Screen::Edit);
    if (typing) {
        if (entry_.size() < 10)
            entry_.append(QLatin1Char(key));
        return;
    }
    switch (key) {
    case 'F':
        second_ = !second_;
        return;
    case '.':
        screen_ = screen_ == Screen::Help ? Screen::Home : Screen::Help;
        return;
    case 'M':
        entry_.clear();
        screen_ = screen_ == Screen::Menu ? Screen::Home : Screen::Menu;
        return;
    case 'N':
    case 'L':
        if (screen_ == Screen::Menu) {
            const int n = static_cast<int>(items().size());
            cursor_ = (cursor_ + (key == 'L' ? 1 : n - 1)) % n;
        }
        return;
    case 'E':
        if (screen_ == Screen::Menu) {
            screen_ = Screen::Edit;
            entry_.clear();
        } else if (screen_ == Screen::Edit) {
            if (!entry_.isEmpty())
                values_[cursor_] = entry_;
            entry_.clear();
            screen_ = Screen::Menu;
        } else {
            entry_.clear();
        }
        return;
    default:
        return;
    }
}

QString MeterDisplay::entryLine() const {
    QString line = entry_.isEmpty() ? QString() : QStringLiteral("> ") + entry_;
    if (second_)
        line = spread(line, QStringLiteral("2nd"));
    return line;
}

QByteArray MeterDisplay::line(int index, double now) const {
    if (index < 0 || index >= LineCount)
        return QByteArray(LineLength, ' ');
    if (fixed_[index])
        return *fixed_[index];
    return composeLine(index, now);
}

QByteArray MeterDisplay::composeLine(int index, double now) const {
    if (mode_ == Mode::Plain) {
        switch (index) {
        case 0:
            return fit(QStringLiteral("SIMULATED METER"));
        case 1:
            return fit(QStringLiteral("Records %1").arg(records_));
        case 2:
            return fit(second_ ? QStringLiteral("2nd") : QString());
        default:
            return fit(QStringLiteral("Keys: ") + keys_.right(LineLength - 6));
        }
    }
    if (index == 3)
        return fit(entryLine());
    switch (screen_) {
    case Screen::Home: {
        // Slow swing plus a faster ripple: moves visibly between polls, never jumps.
        const double flow = 120.0 + 35.0 * std::sin(now / 600.0) + 1.5 * std::sin(now * 1.7);
        const double total = 12345.6 + 0.12 * now;
        if (index == 0)
            return fit(spread(QStringLiteral("FLOW"), QString::asprintf("%.1f L/s", flow)));
        if (index == 1)
            return fit(spread(QStringLiteral("TOTAL"), QString::asprintf("%.1f m3", total)));
        return fit(spread(QStringLiteral("LOG"), QStringLiteral("%1 rec").arg(records_)));
    }
    case Screen::Help:
        if (index == 0)
            return fit(QStringLiteral("HELP"));
        if (index == 1)
            return fit(QStringLiteral("M menu  N/L move"));
        return fit(QStringLiteral("E enter  . back"));
    case Screen::Menu: {
        const int n = static_cast<int>(items().size());
        if (index == 0)
            return fit(
                spread(QStringLiteral("MENU"), QStringLiteral("%1/%2").arg(cursor_ + 1).arg(n)));
        const int shown = (cursor_ + index - 1) % n;
        return fit((index == 1 ? QStringLiteral("> ") : QStringLiteral("  ")) +
                   QLatin1String(items()[shown].name));
    }
    case Screen::Edit:
        if (index == 0)
            return fit(QLatin1String(items()[cursor_].name));
        if (index == 1)
            return fit(spread(QString(), values_[cursor_] + QLatin1String(items()[cursor_].unit)));
        return fit(QStringLiteral("Type, E to store"));
    }
    return fit(QString());
}

} // namespace meterlink
