#pragma once

#include "display/display_view.h"

#include <QVector>

class QLabel;
class QLineEdit;
class QTimer;

namespace meterlink {

// The display tab's lines Text4(0..3) and its timer Timer1, as the display panel sees them,
// and the label under the lines that says when the meter does not answer. Built before the
// window, which hands over its controls as it builds them; until then nothing is shown.
class DisplayLines : public DisplayView {
public:
    void showOn(QVector<QLineEdit*> lines, QTimer* timer, QLabel* noAnswer);

    void setLine(int index, const QString& text) override;
    void setTimerEnabled(bool enabled) override;

    // How a display line is drawn: the meter's unprintable code 157 (U+009D, a control
    // character that fonts leave blank) becomes a shaded cell so the user sees it.
    static QString shownText(const QString& line);

    // Lines shown so far; a tick that shows none heard nothing from the meter.
    int linesShown() const { return linesShown_; }
    // After a tick: why the meter did not answer, or empty when it did.
    void setNoAnswerReason(const QString& reason);

private:
    QVector<QLineEdit*> lines_;
    QTimer* timer_ = nullptr;
    QLabel* noAnswer_ = nullptr;
    int linesShown_ = 0;
};

} // namespace meterlink
