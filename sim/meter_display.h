#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

namespace meterlink {

// The meter's four 20-character display lines and the small menu behind its keys.
// Menu mode: live readings at home; "M" opens the menu, "N"/"L" move, "E" selects and
// stores, digits and "." type into an entry field on line 4, "F" toggles the 2nd
// indicator. Plain mode shows the keys received on line 4 ("Keys: 12E"), for tests.
class MeterDisplay {
public:
    static constexpr int LineCount = 4;
    static constexpr int LineLength = 20;

    enum class Mode { Menu, Plain };

    void setMode(Mode mode) { mode_ = mode; }
    Mode mode() const { return mode_; }
    void setRecordCount(int records) { records_ = records; }

    // A line fixed to given bytes (padded or cut to 20), whatever the menu shows.
    void setFixedLine(int index, const QByteArray& bytes);

    void pressKey(char key, double now);
    // Line 0 to 3 at `now`, always exactly 20 bytes.
    QByteArray line(int index, double now) const;

    bool secondFunction() const { return second_; }

    static bool isKey(char key);

private:
    enum class Screen { Home, Menu, Edit, Help };
    struct Item {
        const char* name;
        const char* unit;
    };
    static const std::array<Item, 5>& items();

    QByteArray composeLine(int index, double now) const;
    QString entryLine() const;

    Mode mode_ = Mode::Menu;
    Screen screen_ = Screen::Home;
    int cursor_ = 0;
    bool second_ = false;
    int records_ = 0;
    QString entry_;
    QString keys_;
    std::array<QString, 5> values_{QStringLiteral("L/s"), QStringLiteral("5.0"),
                                   QStringLiteral("10"), QStringLiteral("1"), QStringLiteral("0")};
    std::array<std::optional<QByteArray>, LineCount> fixed_;
};

} // namespace meterlink
