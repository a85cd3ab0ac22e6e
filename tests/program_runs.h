#pragma once

// meterlink-cli and meterlink-sim run as the real programs, for end-to-end tests: the
// simulator's ready line and the programs' own output say when to go on, never a sleep.
#include "tests/built_program.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>

namespace meterlink {

constexpr int kRunLimitMs = 120000;

struct CliRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// Puts the simulated meters behind a simulated network gateway on the loopback.
struct BehindGateway {};

// meterlink-sim in a directory, linked there as com1, until the test ends.
class Simulator {
public:
    Simulator(const QString& dir, const QStringList& arguments)
        : Simulator(dir, QStringList{"--link", QDir(dir).filePath("com1")} + arguments, 0) {}
    // Behind a gateway at a free port, which device() names.
    Simulator(BehindGateway, const QString& dir, const QStringList& arguments)
        : Simulator(dir, QStringList{"--tcp", "127.0.0.1:0"} + arguments, 0) {}
    ~Simulator() {
        if (sim_.state() != QProcess::NotRunning) {
            ::kill(pid_t(sim_.processId()), SIGTERM);
            sim_.waitForFinished(10000);
        }
    }
    bool ready() const { return said_.startsWith("meterlink-sim ready: "); }
    // Waits for the next line of stdout that holds `text`; the lines before it are passed.
    bool waitForLine(const QByteArray& text, int ms) {
        QDeadlineTimer deadline(ms);
        for (;;) {
            const qsizetype at = said_.indexOf(text, seen_);
            if (at >= 0) {
                seen_ = at + text.size();
                return true;
            }
            if (deadline.hasExpired() || !sim_.waitForReadyRead(int(deadline.remainingTime())))
                return false;
            said_ += sim_.readAllStandardOutput();
        }
    }
    QByteArray said() { return said_ + sim_.readAllStandardError(); }
    // The gateway as meterlink-cli's --device names it.
    QString device() const {
        const QByteArray line = said_.left(said_.indexOf('\n'));
        return QStringLiteral("tcp://") +
               QString::fromLatin1(line.mid(line.lastIndexOf(' ') + 1)).trimmed();
    }

private:
    Simulator(const QString& dir, const QStringList& arguments, int) {
        sim_.setWorkingDirectory(dir);
        sim_.start(builtProgram("meterlink-sim"), arguments);
        QDeadlineTimer deadline(20000);
        while (!said_.contains('\n') && !deadline.hasExpired() &&
               sim_.waitForReadyRead(int(deadline.remainingTime())))
            said_ += sim_.readAllStandardOutput();
    }

    QProcess sim_;
    QByteArray said_;
    qsizetype seen_ = 0;
};

// The test's environment with LC_ALL set to `locale`.
inline QProcessEnvironment cliEnvironment(const QString& locale = QStringLiteral("de_DE.UTF-8")) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", locale);
    return env;
}

inline QProcess* startCli(QProcess& cli, const QString& dir, const QStringList& arguments,
                          QProcessEnvironment env = cliEnvironment()) {
    // The programs' port locks stay within the test's folder, unless the test chose one.
    if (!env.contains("METERLINK_LOCK_DIR"))
        env.insert("METERLINK_LOCK_DIR", dir);
    cli.setProcessEnvironment(env);
    cli.setWorkingDirectory(dir);
    cli.start(builtProgram("meterlink-cli"), arguments);
    return &cli;
}

inline QProcess* startCli(QProcess& cli, const QString& dir, const QStringList& arguments,
                          const QString& locale) {
    return startCli(cli, dir, arguments, cliEnvironment(locale));
}

inline CliRun runCli(const QString& dir, const QStringList& arguments,
                     const QProcessEnvironment& env = cliEnvironment()) {
    QProcess cli;
    startCli(cli, dir, arguments, env);
    CliRun run;
    if (!cli.waitForFinished(kRunLimitMs)) {
        cli.kill();
        cli.waitForFinished();
    }
    run.status = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.out = cli.readAllStandardOutput();
    run.err = cli.readAllStandardError();
    return run;
}

inline QList<QByteArray> linesOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().split('\n');
}

} // namespace meterlink
