#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace meterlink {

// Two linked pseudo-terminals made by socat: what is written to one is read from the
// other. Ready when socat says it has started its transfer loop; no sleeping.
class PtyPair {
public:
    static bool available() { return !QStandardPaths::findExecutable("socat").isEmpty(); }

    bool start(int timeoutMs = 5000) {
        if (!dir_.isValid()) {
            return false;
        }
        first_ = dir_.filePath(QStringLiteral("a"));
        second_ = dir_.filePath(QStringLiteral("b"));
        socat_.setReadChannel(QProcess::StandardError);
        socat_.start(QStringLiteral("socat"), {QStringLiteral("-d"), QStringLiteral("-d"),
                                               QStringLiteral("pty,raw,echo=0,link=") + first_,
                                               QStringLiteral("pty,raw,echo=0,link=") + second_});
        QDeadlineTimer deadline(timeoutMs);
        QByteArray said;
        while (!said.contains("starting data transfer loop")) {
            if (deadline.hasExpired() || !socat_.waitForReadyRead(int(deadline.remainingTime()))) {
                return false;
            }
            said += socat_.readAllStandardError();
        }
        return true;
    }

    ~PtyPair() {
        if (socat_.state() != QProcess::NotRunning) {
            socat_.terminate();
            if (!socat_.waitForFinished(2000)) {
                socat_.kill();
                socat_.waitForFinished(2000);
            }
        }
    }

    QString first() const { return first_; }
    QString second() const { return second_; }

private:
    QTemporaryDir dir_;
    QProcess socat_;
    QString first_;
    QString second_;
};

// A pseudo-terminal of the test's own: the port opens the terminal end while the test holds
// the other, which sees the terminal's settings and every byte written.
class OwnPty {
public:
    OwnPty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            char name[128] = {};
            if (::ptsname_r(master_, name, sizeof name) == 0)
                terminal_ = QString::fromLocal8Bit(name);
        }
    }
    ~OwnPty() {
        if (master_ >= 0)
            ::close(master_);
    }
    OwnPty(const OwnPty&) = delete;
    OwnPty& operator=(const OwnPty&) = delete;

    bool isValid() const { return !terminal_.isEmpty(); }
    int master() const { return master_; }
    QString terminal() const { return terminal_; }

private:
    int master_ = -1;
    QString terminal_;
};

} // namespace meterlink
