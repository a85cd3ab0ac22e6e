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
// the channel and counter boxes Text3(0..9). Built before the window, which hands over its
// controls as it builds them; until then nothing is shown.
class DownloadControls : public DownloadView, public DownloadPanel {
public:
    void showOn(QLabel* status, QLabel* reason, QPushButton* button, QProgressBar* progress,
                QVector<QLineEdit*> boxes);

    void setStatusText(const QString& text) override;
    void setStatusToolTip(const QString& reason) override;
    void setDownloadEnabled(bool enabled) override;
    void setProgress(float value) override;
    void setText3(int index, const QString& text) override;

private:
    QLabel* status_ = nullptr;
    QLabel* reason_ = nullptr;
    QPushButton* button_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QVector<QLineEdit*> boxes_;
};

} // namespace meterlink
