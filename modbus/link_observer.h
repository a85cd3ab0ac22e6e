#pragma once

#include <QByteArray>
#include <QString>

namespace meterlink {

// Sees every frame on the line, for traces and the debug log.
class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    virtual void frameSent(double timeOfDay, const QByteArray& frame, bool resend) = 0;
    virtual void frameReceived(double timeOfDay, const QByteArray& bytes) = 0;
    // A time-out, CRC failure, exception answer or refused open, in words.
    virtual void linkEvent(double timeOfDay, const QString& what) = 0;
    // How try `tryNumber` ended, when a resend follows it: "no answer", or what came.
    virtual void tryEnded(double /*timeOfDay*/, int /*tryNumber*/, const QString& /*outcome*/) {}
};

} // namespace meterlink
