#include "app/display_lines.h"

#include "display/clean_display_text.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace meterlink {

namespace {

constexpr QChar kShownUnprintable(0x2592); // medium shade

} // namespace

void DisplayLines::showOn(QVector<QLineEdit*> lines, QTimer* timer, QLabel* noAnswer) {
    lines_ = std::move(lines);
    timer_ = timer;
    noAnswer_ = noAnswer;
}

void DisplayLines::setLine(int index, const QString& text) {
    if (index < 0 || index >= lines_.size())
        return;
    lines_[index]->setText(shownText(text));
    ++linesShown_;
}

void DisplayLines::setNoAnswerReason(const QString& reason) {
    if (!noAnswer_)
        return;
    noAnswer_->setText(reason.isEmpty() ? QString()
                                        : QStringLiteral("The meter does not answer: ") + reason);
}

void DisplayLines::setTimerEnabled(bool enabled) {
    if (!timer_)
        return;
    if (enabled)
        timer_->start();
    else
        timer_->stop();
}

QString DisplayLines::shownText(const QString& line) {
    QString shown = line;
    shown.replace(QChar(kUnprintableDisplayCode), kShownUnprintable);
    return shown;
}

} // namespace meterlink
