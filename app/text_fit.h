#pragma once

#include <QFont>
#include <QSize>
#include <QString>

class QLineEdit;
class QPushButton;

namespace meterlink {

// The room a text box gives its text before it scrolls: inside its frame, its text margins
// and the two-pixel side margins it draws with, less a pixel for the cursor.
QSize textRoom(const QLineEdit* box);
// The room a push button gives its caption.
QSize captionRoom(const QPushButton* button);

// `font` at the largest size, in half points between `smallest` and `largest`, at which
// `sample` fits in `room`; at `smallest` when nothing does.
QFont largestFittingFont(QFont font, const QString& sample, QSize room, qreal smallest = 5.0,
                         qreal largest = 48.0);

// A bold monospaced face for the meter's display lines, the nearest to its LCD.
QFont displayLineFont();

// Shows the start of a text box's text (the end is what QLineEdit shows of a long text)
// and carries the whole text in its tooltip, from now on.
void showStartOfText(QLineEdit* box);

} // namespace meterlink
