#pragma once

#include "logger/download_panel.h"
#include "logger/download_view.h"

#include <QVector>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace meterlink {

// The download tab's controls as the download and its command see them: the status label
// Label4 with the failure reason as its tooltip, the reason again in plain sight under the
// tab's frames, the button Command2 ("Stop" while a download runs), the progress bar and
// the channel and counter boxes Text3(0..9).
class DownloadControls : public DownloadView, public DownloadPanel {
public:
    DownloadControls(QLabel* status, QLabel* reason, QPushButton* button, QProgressBar* progress,
                     QVector<QLineEdit*> boxes);

    void setStatusText(const QString& text) override;
    void setStatusToolTip(const QString& reason) override;
    void setDownloadEnabled(bool enabled) override;
    void setProgress(float value) override;
    void setText3(int index, const QString& text) override;

private:
    QLabel* status_;
    QLabel* reason_;
    QPushButton* button_;
    QProgressBar* progress_;
    QVector<QLineEdit*> boxes_;
};

} // namespace meterlink
