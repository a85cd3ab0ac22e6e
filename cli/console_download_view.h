#pragma once

#include "logger/download_panel.h"
#include "logger/download_view.h"

#include <QIODevice>
#include <QString>

namespace meterlink {

// The download's status texts on stdout, one line each as they change, and its progress
// as a bar on stderr (only when that is a terminal; a log file gets no bar).
class ConsoleDownloadView : public DownloadView, public DownloadPanel {
public:
    ConsoleDownloadView(QIODevice& out, QIODevice& err, bool progressBar);

    void setStatusText(const QString& text) override;
    void setStatusToolTip(const QString& reason) override { reason_ = reason; }
    void setDownloadEnabled(bool) override {}
    void setProgress(float value) override;
    void setText3(int, const QString&) override {}

    const QString& reason() const { return reason_; }
    // Ends the bar's line so that what follows starts on a line of its own.
    void finishProgress();

    static QString progressBarText(int percent);

private:
    QIODevice& out_;
    QIODevice& err_;
    bool progressBar_;
    QString status_;
    QString reason_;
    int shownPercent_ = -1;
};

} // namespace meterlink
