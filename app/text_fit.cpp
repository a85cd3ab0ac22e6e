#include "app/text_fit.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>

#include <cmath>

namespace meterlink {

namespace {

// QLineEdit draws its text this far in from its contents rectangle.
constexpr int kLineEditSideMargin = 2;
constexpr int kLineEditTopMargin = 1;

bool fits(const QFont& font, const QString& sample, QSize room) {
    const QFontMetricsF metrics(font);
    return metrics.horizontalAdvance(sample) <= room.width() && metrics.height() <= room.height();
}

// What QLineEdit and QPushButton hand their style; their own builders are protected.
QStyleOptionFrame frameOption(const QLineEdit* box) {
    QStyleOptionFrame option;
    option.initFrom(box);
    option.rect = box->contentsRect();
    option.lineWidth =
        box->hasFrame() ? box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box) : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    if (box->isReadOnly())
        option.state |= QStyle::State_ReadOnly;
    return option;
}

QStyleOptionButton buttonOption(const QPushButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (button->isFlat())
        option.features |= QStyleOptionButton::Flat;
    if (button->isDefault())
        option.features |= QStyleOptionButton::DefaultButton;
    if (button->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    return option;
}

} // namespace

QSize textRoom(const QLineEdit* box) {
    const QStyleOptionFrame option = frameOption(box);
    QRect room = box->style()->subElementRect(QStyle::SE_LineEditContents, &option, box);
    room = room.marginsRemoved(box->textMargins());
    return {room.width() - 2 * kLineEditSideMargin - 1, room.height() - 2 * kLineEditTopMargin};
}

QSize captionRoom(const QPushButton* button) {
    const QStyleOptionButton option = buttonOption(button);
    return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).size();
}

QFont largestFittingFont(QFont font, const QString& sample, QSize room, qreal smallest,
                         qreal largest) {
    // Half points, searched by halving: the fit only ever gets worse as the size grows.
    int low = int(std::ceil(smallest * 2));
    int high = int(std::floor(largest * 2));
    int best = low;
    while (low <= high) {
        const int middle = (low + high) / 2;
        font.setPointSizeF(middle / 2.0);
        if (fits(font, sample, room)) {
            best = middle;
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    font.setPointSizeF(best / 2.0);
    return font;
}

QFont displayLineFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setBold(true);
    return font;
}

void showStartOfText(QLineEdit* box) {
    const auto showStart = [box] {
        box->setToolTip(box->text());
        // While the user types, the cursor stays where the typing is.
        if (box->window()->focusWidget() != box)
            box->setCursorPosition(0);
    };
    QObject::connect(box, &QLineEdit::textChanged, box, showStart);
    QObject::connect(box, &QLineEdit::editingFinished, box, showStart);
    showStart();
}

} // namespace meterlink
