#include "cli/link_trace.h"

#include "modbus/link_failure.h"

#include <cmath>

namespace meterlink {

bool LinkTrace::open(const QString& path) {
    file_.setFileName(path);
    // Unbuffered: each line is one write, on disk before the next frame goes out.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        error_ = file_.errorString();
        return false;
    }
    return true;
}

QString LinkTrace::timeText(double timeOfDay) {
    qint64 ms = std::isfinite(timeOfDay) ? std::llround(timeOfDay * 1000.0) : 0;
    ms = qBound<qint64>(0, ms, 86400LL * 1000 - 1);
    return QString::asprintf("%02d:%02d:%02d.%03d", int(ms / 3600000), int(ms / 60000 % 60),
                             int(ms / 1000 % 60), int(ms % 1000));
}

QString LinkTrace::frameLine(double timeOfDay, const char* direction, const QByteArray& bytes,
                             bool resend) {
    QString line = timeText(timeOfDay) + QLatin1Char(' ') + QLatin1String(direction);
    if (resend)
        line += QLatin1String(" (resend)");
    if (!bytes.isEmpty())
        line += QLatin1Char(' ') + QString::fromLatin1(bytes.toHex(' ').toUpper());
    return line;
}

QString LinkTrace::eventLine(double timeOfDay, const QString& kind, const QString& what) {
    QString text = what;
    // "No answer ..." reads as a continuation after "time-out:"; "CRC ..." keeps its capitals.
    if (text.size() > 1 && text.at(0).isUpper() && text.at(1).isLower())
        text[0] = text.at(0).toLower();
    return timeText(timeOfDay) + QLatin1String(" !! ") + kind + QLatin1String(": ") + text;
}

QString LinkTrace::eventKind(const LinkFailure& failure) {
    switch (failure.fault) {
    case LinkFault::NoAnswer:
    case LinkFault::AnswerStopped:
        return QStringLiteral("time-out");
    case LinkFault::Refused:
        return QStringLiteral("exception");
    case LinkFault::Stopped:
        return QStringLiteral("stopped");
    case LinkFault::CrcMismatch:
        return QStringLiteral("CRC failure");
    case LinkFault::PortNotOpened:
    case LinkFault::DeviceGone:
        return QStringLiteral("port");
    case LinkFault::BadArgument:
    case LinkFault::BadSlave:
    case LinkFault::Busy:
        return QStringLiteral("refused");
    case LinkFault::None:
        break;
    }
    return QStringLiteral("link");
}

void LinkTrace::frameSent(double timeOfDay, const QByteArray& frame, bool resend) {
    writeLine(frameLine(timeOfDay, "TX", frame, resend));
}

void LinkTrace::frameReceived(double timeOfDay, const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    writeLine(frameLine(timeOfDay, "RX", bytes));
}

void LinkTrace::linkEvent(double timeOfDay, const QString& what) {
    QString kind = QStringLiteral("link");
    if (failureSource_) {
        const LinkFailure& failure = failureSource_();
        // A refused call reports without becoming the link's last failure.
        kind = describe(failure) == what ? eventKind(failure) : QStringLiteral("refused");
    }
    writeLine(eventLine(timeOfDay, kind, what));
}

void LinkTrace::tryEnded(double timeOfDay, int tryNumber, const QString& outcome) {
    writeLine(eventLine(timeOfDay, QStringLiteral("try %1").arg(tryNumber), outcome));
}

void LinkTrace::note(double timeOfDay, const QString& what) {
    writeLine(timeText(timeOfDay) + QLatin1String(" -- ") + what);
}

void LinkTrace::writeLine(const QString& line) {
    if (!file_.isOpen())
        return;
    const QByteArray bytes = line.toUtf8() + '\n';
    // A full disk loses trace lines, never the download.
    file_.write(bytes);
}

} // namespace meterlink
