#pragma once

#include "modbus/link_observer.h"

#include <QFile>
#include <QString>

#include <functional>

namespace meterlink {

struct LinkFailure;

// Writes the line's traffic as it happens, one line at a time, so that whatever was
// written survives an interrupt or a crash:
//   12:00:01.004 TX 01 03 00 4C 00 08 C5 DF
//   12:00:02.010 TX (resend) 01 03 00 4C 00 08 C5 DF
//   12:00:02.031 RX 01 03 10 ...
//   12:00:04.012 !! time-out: no answer from slave 1 at 38400 baud after 3 sends
class LinkTrace : public LinkObserver {
public:
    // What the link last failed with; lets an event be told apart (time-out, CRC, exception).
    using FailureSource = std::function<const LinkFailure&()>;

    LinkTrace() = default;

    // Appends to the file; false (with errorText()) when it cannot be opened.
    bool open(const QString& path);
    QString errorText() const { return error_; }
    void setFailureSource(FailureSource source) { failureSource_ = std::move(source); }

    void frameSent(double timeOfDay, const QByteArray& frame, bool resend) override;
    void frameReceived(double timeOfDay, const QByteArray& bytes) override;
    void linkEvent(double timeOfDay, const QString& what) override;
    void tryEnded(double timeOfDay, int tryNumber, const QString& outcome) override;
    // A line of the program's own, such as an interrupt.
    void note(double timeOfDay, const QString& what);

    // The lines below, without writing them anywhere.
    static QString timeText(double timeOfDay);
    static QString frameLine(double timeOfDay, const char* direction, const QByteArray& bytes,
                             bool resend = false);
    static QString eventLine(double timeOfDay, const QString& kind, const QString& what);
    static QString eventKind(const LinkFailure& failure);

private:
    void writeLine(const QString& line);

    QFile file_;
    QString error_;
    FailureSource failureSource_;
};

} // namespace meterlink
