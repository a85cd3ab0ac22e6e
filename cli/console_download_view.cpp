#include "cli/console_download_view.h"

#include <cmath>

namespace meterlink {

namespace {

constexpr int kBarWidth = 40;

} // namespace

ConsoleDownloadView::ConsoleDownloadView(QIODevice& out, QIODevice& err, bool progressBar)
    : out_(out), err_(err), progressBar_(progressBar) {}

QString ConsoleDownloadView::progressBarText(int percent) {
    percent = qBound(0, percent, 100);
    const int filled = percent * kBarWidth / 100;
    return QStringLiteral("\r[%1%2] %3%")
        .arg(QString(filled, QLatin1Char('#')), QString(kBarWidth - filled, QLatin1Char(' ')))
        .arg(percent, 3);
}

void ConsoleDownloadView::setStatusText(const QString& text) {
    if (text == status_)
        return;
    status_ = text;
    finishProgress();
    out_.write(text.toUtf8() + '\n');
}

void ConsoleDownloadView::setProgress(float value) {
    if (!progressBar_ || !std::isfinite(value))
        return;
    const int percent = qBound(0, int(std::floor(value)), 100);
    if (percent == shownPercent_)
        return;
    shownPercent_ = percent;
    err_.write(progressBarText(percent).toUtf8());
}

void ConsoleDownloadView::finishProgress() {
    if (shownPercent_ < 0)
        return;
    shownPercent_ = -1;
    err_.write("\n");
}

} // namespace meterlink
