#include "app/download_controls.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace meterlink {

void DownloadControls::showOn(QLabel* status, QLabel* reason, QPushButton* button,
                              QProgressBar* progress, QVector<QLineEdit*> boxes) {
    status_ = status;
    reason_ = reason;
    button_ = button;
    progress_ = progress;
    boxes_ = std::move(boxes);
}

void DownloadControls::setStatusText(const QString& text) {
    if (!status_)
        return;
    status_->setText(text);
}

void DownloadControls::setStatusToolTip(const QString& reason) {
    if (!status_)
        return;
    status_->setToolTip(reason);
    reason_->setText(reason);
}

void DownloadControls::setDownloadEnabled(bool enabled) {
    if (!button_)
        return;
    // While a download runs the button stops it; no second download can start from it.
    button_->setText(enabled ? QStringLiteral("Download Data") : QStringLiteral("Stop"));
    button_->setEnabled(true);
}

void DownloadControls::setProgress(float value) {
    if (!progress_ || !std::isfinite(value))
        return;
    progress_->setValue(
        qBound(progress_->minimum(), int(std::lround(value)), progress_->maximum()));
}

void DownloadControls::setText3(int index, const QString& text) {
    if (index < 0 || index >= boxes_.size())
        return;
    boxes_[index]->setText(text);
    // A meter's channel name can be longer than its box shows: the whole of it on hover.
    boxes_[index]->setToolTip(text);
}

} // namespace meterlink
