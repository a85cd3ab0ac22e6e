#include "platform/system_clock.h"

#include <QDateTime>

namespace meterlink {

double SystemClock::secondsSinceMidnight() const {
    constexpr qint64 dayMs = 86400LL * 1000;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    if (nowMs < offsetFrom_ || nowMs >= offsetUntil_) {
        offsetMs_ = QDateTime::fromMSecsSinceEpoch(nowMs).offsetFromUtc() * 1000LL;
        offsetFrom_ = nowMs;
        offsetUntil_ = nowMs + 1000;
    }
    return double(((nowMs + offsetMs_) % dayMs + dayMs) % dayMs) / 1000.0;
}

} // namespace meterlink
