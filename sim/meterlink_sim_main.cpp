#include "platform/stop_signal_hook.h"
#include "sim/image_log.h"
#include "sim/log_control.h"
#include "sim/meter_bus.h"
#include "sim/meter_scenario.h"
#include "sim/pty_link.h"
#include "sim/pty_server.h"
#include "sim/sim_options.h"
#include "sim/simulated_meter.h"
#include "sim/tcp_server.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <vector>

using namespace meterlink;

namespace {

// sysexits.h values: the callers are scripts.
constexpr int ExitUsage = 64;
constexpr int ExitDataError = 65;
constexpr int ExitNoInput = 66;
constexpr int ExitOsError = 71;
constexpr int ExitCantCreate = 73;

constexpr qint64 MaxScenarioBytes = 64 * 1024 * 1024;

void printError(const QString& text) {
    std::fprintf(stderr, "meterlink-sim: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    SimOptions options;
    if (const auto why = options.parse(app.arguments().mid(1))) {
        printError(*why);
        std::fputs(qPrintable(simUsage()), stderr);
        return ExitUsage;
    }
    if (options.version) {
        std::fputs("meterlink-sim " METERLINK_VERSION "\n", stdout);
        return 0;
    }
    if (options.help) {
        std::fputs(qPrintable(simUsage()), stdout);
        return 0;
    }

    MeterScenario scenario;
    if (!options.scenarioPath.isEmpty()) {
        QFile file(options.scenarioPath);
        if (!file.open(QIODevice::ReadOnly)) {
            printError(
                QStringLiteral("cannot read %1: %2").arg(options.scenarioPath, file.errorString()));
            return ExitNoInput;
        }
        if (file.size() > MaxScenarioBytes) {
            printError(QStringLiteral("%1 is too large for a scenario").arg(options.scenarioPath));
            return ExitDataError;
        }
        scenario = parseMeterScenario(file.readAll());
        if (!scenario.errors.isEmpty()) {
            for (const QString& e : scenario.errors)
                printError(QStringLiteral("%1: %2").arg(options.scenarioPath, e));
            return ExitDataError;
        }
    }
    std::optional<MeterLog> imageLog;
    if (!options.imagePath.isEmpty()) {
        QFile file(options.imagePath);
        if (!file.open(QIODevice::ReadOnly)) {
            printError(
                QStringLiteral("cannot read %1: %2").arg(options.imagePath, file.errorString()));
            return ExitNoInput;
        }
        QString why;
        if (file.size() <= MaxScenarioBytes)
            imageLog = meterLogFromImage(file.readAll(), &why);
        else
            why = QStringLiteral("too large for a log image");
        if (!imageLog) {
            printError(QStringLiteral("%1: %2").arg(options.imagePath, why));
            return ExitDataError;
        }
    }
    const QList<int> slaveIds =
        options.slaveIds.isEmpty() ? QList<int>{scenario.slaveId.value_or(1)} : options.slaveIds;
    // The log a meter starts with, and has again after a control file's change. A shorter
    // generated log is the start of a longer one, so after a change each seed's full log
    // is made once, and a change that only grows the log costs a copy.
    std::map<quint32, MeterLog> fullLogs;
    const auto logFor = [&](int index, int records, quint32 seed, bool changed) {
        if (imageLog)
            return *imageLog;
        if (scenario.hasRecords)
            return scenario.log;
        MeterLog::Generation how;
        how.records = records;
        how.seed = seed + static_cast<quint32>(index);
        if (!changed)
            return MeterLog::generated(how, scenario.log.channelNames());
        auto full = fullLogs.find(how.seed);
        if (full == fullLogs.end()) {
            if (fullLogs.size() >= 8)
                fullLogs.clear();
            how.records = MeterLog::CapacityRecords;
            full = fullLogs.emplace(how.seed, MeterLog::generated(how, scenario.log.channelNames()))
                       .first;
        }
        MeterLog log;
        for (int k = 1; k <= MeterLog::ChannelCount; ++k)
            log.setChannelName(k, full->second.channelNames()[size_t(k - 1)]);
        for (int i = 0; i < records && i < full->second.recordCount(); ++i)
            log.append(full->second.records()[size_t(i)]);
        return log;
    };
    int records = options.records.value_or(200);
    quint32 seed = options.seed;
    std::vector<std::unique_ptr<SimulatedMeter>> meters;
    MeterBus bus;
    for (int index = 0; index < slaveIds.size(); ++index) {
        meters.push_back(std::make_unique<SimulatedMeter>(
            logFor(index, records, seed, false), slaveIds.at(index),
            options.seed + static_cast<quint32>(index)));
        SimulatedMeter& meter = *meters.back();
        meter.setBaud(options.baud);
        meter.setFaults(options.faults);
        if (scenario.displayMode)
            meter.display().setMode(*scenario.displayMode);
        for (int i = 0; i < MeterDisplay::LineCount; ++i)
            if (scenario.displayLines[i])
                meter.display().setFixedLine(i, *scenario.displayLines[i]);
        bus.attach(meter);
    }
    SimulatedMeter& meter = *meters.front();

    if (!options.exportPath.isEmpty()) {
        QSaveFile out(options.exportPath);
        if (!out.open(QIODevice::WriteOnly) || out.write(meter.log().exportText()) < 0 ||
            !out.commit()) {
            printError(
                QStringLiteral("cannot write %1: %2").arg(options.exportPath, out.errorString()));
            return ExitCantCreate;
        }
    }

    // Signals arrive as data on a descriptor, so nothing of ours runs inside a handler.
    const StopSignalHook stopSignals{SIGINT, SIGTERM, SIGHUP};
    if (!stopSignals.isInstalled()) {
        printError(QStringLiteral("cannot catch the stop signals"));
        return ExitOsError;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const int stopFd = int(stopSignals.waitHandle());

    QByteArray control;
    bool stallTold = false;
    // Re-reads the control file before every request, when it changed.
    const auto beforeReceive = [&]() {
        QFile file(options.controlPath);
        if (!file.open(QIODevice::ReadOnly))
            return; // not written yet: the log stays as it is
        const QByteArray text = file.read(4096);
        if (text == control)
            return;
        control = text;
        const LogControl change = parseLogControl(text);
        for (const QString& e : change.errors)
            printError(QStringLiteral("%1: %2").arg(options.controlPath, e));
        records = change.records.value_or(records);
        seed = change.seed.value_or(seed);
        for (size_t index = 0; index < meters.size(); ++index) {
            meters[index]->setLog(logFor(static_cast<int>(index), records, seed, true));
            meters[index]->setLogSilentAfter(change.stallAfter.value_or(-1));
        }
        stallTold = false;
    };
    // A test waits for this line to stop its download at exactly this point.
    const auto tellStall = [&]() {
        if (stallTold || !meter.logSilenced())
            return;
        stallTold = true;
        std::printf("meterlink-sim stalled: a log read goes unanswered\n");
        std::fflush(stdout);
    };
    QString error;
    if (!options.tcpHost.isEmpty()) {
        TcpServer server(bus, options.baud,
                         TcpServer::Network{options.faults.latencyMs, options.faults.dropAt});
        if (!server.listen(options.tcpHost, options.tcpPort, &error)) {
            printError(error);
            return ExitOsError;
        }
        std::printf("meterlink-sim ready: listening on %s:%d\n", qPrintable(options.tcpHost),
                    server.port());
        std::fflush(stdout);
        if (!options.controlPath.isEmpty())
            server.setBeforeReceive(beforeReceive);
        if (!server.run(stopFd, &error)) {
            printError(error);
            return ExitOsError;
        }
        return 0;
    }

    auto pty = std::make_unique<PtyLink>();
    if (!pty->open(&error)) {
        printError(error);
        return ExitOsError;
    }
    if (!pty->linkAt(options.linkPath, &error)) {
        printError(error);
        return ExitCantCreate;
    }
    std::printf("meterlink-sim ready: %s linked at %s\n", qPrintable(pty->deviceName()),
                qPrintable(options.linkPath));
    std::fflush(stdout);

    bool unplugPending = options.unplugAt > 0;
    for (;;) {
        PtyServer server(bus, pty->masterFd(), options.baud, options.paced);
        if (!options.controlPath.isEmpty()) {
            server.setBeforeReceive(beforeReceive);
            server.setAfterReceive(tellStall);
        }
        if (unplugPending)
            server.setUnplugAt(options.unplugAt);
        const bool stopped = server.run(stopFd, &error);
        if (!stopped) {
            printError(error);
            return ExitOsError;
        }
        if (!server.unplugged())
            break;
        // Pulled out: the device and its link go; a new one comes under the same link.
        unplugPending = false;
        pty.reset();
        pollfd stop{stopFd, POLLIN, 0};
        if (::poll(&stop, 1, static_cast<int>(options.unpluggedFor * 1000.0)) > 0)
            return 0;
        pty = std::make_unique<PtyLink>();
        if (!pty->open(&error) || !pty->linkAt(options.linkPath, &error)) {
            printError(error);
            return ExitOsError;
        }
        std::printf("meterlink-sim plugged in again: %s linked at %s\n",
                    qPrintable(pty->deviceName()), qPrintable(options.linkPath));
        std::fflush(stdout);
    }
    return 0;
}
