#pragma once

#include <QString>

namespace meterlink {

// What the download shows while it runs: the channel names and counters (Text3(0..9)) and
// the progress bar (0..100). The window and the command line implement it.
class DownloadPanel {
public:
    virtual ~DownloadPanel() = default;
    // 0..7: channels 1..8; 8: "Records available"; 9: "Records used".
    virtual void setText3(int index, const QString& text) = 0;
    virtual void setProgress(float value) = 0;
};

} // namespace meterlink
