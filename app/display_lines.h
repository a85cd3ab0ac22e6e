#pragma once

#include "display/display_view.h"

#include <QVector>

class QLineEdit;
class QTimer;

namespace meterlink {

// The display tab's lines Text4(0..3) and its timer Timer1, as the display panel sees them.
class DisplayLines : public DisplayView {
public:
    DisplayLines(QVector<QLineEdit*> lines, QTimer* timer);

    void setLine(int index, const QString& text) override;
    void setTimerEnabled(bool enabled) override;

    // How a display line is drawn: the meter's unprintable code 157 (U+009D, a control
    // character that fonts leave blank) becomes a shaded cell so the user sees it.
    static QString shownText(const QString& line);

private:
    QVector<QLineEdit*> lines_;
    QTimer* timer_;
};

} // namespace meterlink
