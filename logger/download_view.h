#pragma once

#include <QString>

namespace meterlink {

// What the download command shows: the status label (Label4) with its tooltip, the
// "Download Data" button (Command2) and the progress bar. The window and the command line
// implement it.
class DownloadView {
public:
    virtual ~DownloadView() = default;
    virtual void setStatusText(const QString& text) = 0;
    // Why the download or the export failed; empty after a success.
    virtual void setStatusToolTip(const QString& reason) = 0;
    virtual void setDownloadEnabled(bool enabled) = 0;
    virtual void setProgress(float value) = 0;
};

} // namespace meterlink
