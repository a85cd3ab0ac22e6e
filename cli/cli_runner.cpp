#include "cli/cli_runner.h"

#include "cli/cli_options.h"
#include "cli/collect_run.h"
#include "cli/collect_scan.h"
#include "cli/exit_codes.h"
#include "cli/link_trace.h"
#include "cli/log_image_run.h"
#include "cli/meter_commands.h"
#include "cli/output_folder.h"
#include "cli/port_listing.h"
#include "cli/stop_signals.h"
#include "modbus/modbus_link.h"
#include "platform/make_serial_port.h"
#include "platform/port_lock.h"
#include "platform/qt_event_pump.h"
#include "platform/serial_port_search.h"
#include "platform/settings_endpoint.h"
#include "platform/system_clock.h"
#include "platform/tcp_device.h"
#include "settings/settings.h"
#include "settings/settings_controls.h"
#include "settings/settings_file.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <csignal>

namespace meterlink {

namespace {

// The device the options name, else the one PortNumber reaches; only the latter searches
// the system's ports.
QString chosenDevice(const CliOptions& options, const Settings& settings) {
    return options.link.device ? *options.link.device : serialDeviceName(settings.PortNumber);
}

constexpr int kWatchIntervalMs = 750;

void printLine(QIODevice& device, const QString& line) {
    device.write(line.toUtf8() + '\n');
}

// The settings the window would start with, without ever writing the file.
Settings startingSettings(const CliOptions& options, Console& console) {
    Settings settings;
    SettingsControls controls;
    putInForce(controls, settings);
    const SettingsFile file(QStringLiteral("."));
    if (file.exists() && !file.LoadSettings(controls, settings)) {
        printLine(
            console.err,
            QStringLiteral("meterlink-cli: cannot read %1; using the defaults").arg(file.path()));
    }
    if (options.link.port)
        settings.PortNumber = qint16(*options.link.port);
    if (options.link.baud)
        settings.BaudText = QString::number(*options.link.baud);
    if (options.link.slave)
        settings.SlaveId = qint16(*options.link.slave);
    if (options.outPath)
        settings.SaveFileName = *options.outPath;
    return settings;
}

// Refreshes the four lines every 750 ms until a stop signal. On a terminal the lines are
// redrawn in place; elsewhere a new set is printed whenever one changes.
// Whether a stop signal has been taken in: the one question the link wiring asks.
bool stopAsked(const StopSignals& stop) {
    return stop.signalNumber() != 0;
}

int watchDisplay(MeterCommands& commands, StopSignals& stop, Console& console) {
    MeterCommands::DisplayLines shown;
    bool printed = false;
    bool failing = false;
    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&stop, &StopSignals::stopRequestedNow, &loop, &QEventLoop::quit);

    while (!stop.stopRequested()) {
        const QDeadlineTimer nextTick(kWatchIntervalMs);
        QString why;
        const auto lines = commands.readDisplay(&why);
        if (stopAsked(stop))
            break;
        MeterCommands::DisplayLines next = shown;
        for (size_t n = 0; n < lines.size(); ++n)
            if (lines[n])
                next[n] = *lines[n]; // a failed line keeps its old text
        if (!why.isEmpty() && !failing)
            printLine(console.err, QStringLiteral("meterlink-cli: ") + why);
        failing = !why.isEmpty();
        if (console.outIsTerminal || !printed || next != shown) {
            QByteArray text;
            if (console.outIsTerminal && printed)
                text += "\x1b[4F"; // back to the first of the four lines
            for (const QString& line : next)
                text += line.toUtf8() + (console.outIsTerminal ? "\x1b[K\n" : "\n");
            if (!console.outIsTerminal)
                text += '\n';
            console.out.write(text);
            printed = true;
            shown = next;
        }
        if (stop.stopRequested())
            break;
        wake.start(int(qMax<qint64>(0, nextTick.remainingTime())));
        loop.exec();
        wake.stop();
    }
    return ExitDone;
}

} // namespace

int runCli(const QStringList& arguments, Console& console) {
    const CliParse parse = parseCliArguments(arguments);
    const CliOptions& options = parse.options;
    if (!parse.error.isEmpty()) {
        printLine(console.err, QStringLiteral("meterlink-cli: ") + parse.error);
        printLine(console.err, usageLine(options.command));
        return ExitUsage;
    }
    if (options.version) {
        console.out.write(versionText().toUtf8());
        return ExitDone;
    }
    if (options.help) {
        console.out.write(helpText(options.command).toUtf8());
        return ExitDone;
    }

    if (options.command == CliCommand::Ports) {
        console.out.write(portListing(findSerialPorts(), currentCommTargets()).toUtf8());
        return ExitDone;
    }

    if (options.command == CliCommand::Decode)
        return runDecode(options, console); // no meter, no line

    const QDateTime started = QDateTime::currentDateTime();
    const Settings settings = startingSettings(options, console);
    if (options.command == CliCommand::Download) {
        // Found now, not after a download that may take half an hour.
        const QList<int> slaves =
            options.slaves.isEmpty() ? QList<int>{settings.SlaveId} : options.slaves;
        for (const int slave : slaves) {
            const QString problem =
                outputFolderProblem(expandOutName(settings.SaveFileName, slave, started));
            if (!problem.isEmpty()) {
                printLine(console.err, QStringLiteral("meterlink-cli: ") + problem);
                return ExitFileNotWritten;
            }
        }
    }
    // Two programs must never talk over each other on one line, nor wait for each other:
    // every command that opens the port holds its lock for the whole run.
    PortLock portLock;
    {
        QString why;
        const PortLock::Result locked = portLock.tryLock(chosenDevice(options, settings), &why);
        if (locked != PortLock::Locked) {
            printLine(console.err, QStringLiteral("meterlink-cli: ") + why);
            if (locked == PortLock::HeldByAnother)
                return ExitPortInUse;
        }
    }
    const std::unique_ptr<SerialPort> serialPort = makeSerialPort();
    SystemClock clock;
    QtEventPump pump;
    pairPumpWithPort(pump, *serialPort);
    const std::optional<QString> device = options.link.device;
    ModbusLink link(*serialPort, clock, pump, [&settings, device] {
        return settingsEndpoint(settings, QStringLiteral("."), device.value_or(QString()));
    });

    LinkTrace trace;
    if (!options.link.tracePath.isEmpty()) {
        // A FIFO or a device could hold the open until someone reads it, before Ctrl-C is
        // caught: only a plain file, new or existing, is taken.
        const QFileInfo info(options.link.tracePath);
        const bool plainFile = !info.exists() || info.isFile();
        if (!plainFile || !trace.open(options.link.tracePath)) {
            printLine(console.err,
                      QStringLiteral("meterlink-cli: cannot open the trace file %1: %2")
                          .arg(options.link.tracePath, plainFile
                                                           ? trace.errorText()
                                                           : QStringLiteral("not a regular file")));
            return ExitUsage;
        }
        trace.setFailureSource([&link]() -> const LinkFailure& { return link.lastFailure(); });
        link.setObserver(&trace);
    }

    StopSignals stop;
    QObject::connect(&stop, &StopSignals::stopRequestedNow, [&](int signalNumber) {
        trace.note(clock.secondsSinceMidnight(),
                   QStringLiteral("stopped by %1")
                       .arg(signalNumber == SIGTERM ? QStringLiteral("SIGTERM")
                                                    : QStringLiteral("SIGINT")));
        // Ends the waiting transaction at its next look and every later one of its session.
        link.abort();
    });

    MeterCommands commands(link, settings.SlaveId, console.out, console.err);
    int status = ExitDone;
    switch (options.command) {
    case CliCommand::Download:
        status = runCollect(
            link, pump, [&stop] { return stopAsked(stop); }, settings, options, console, started);
        // A download that finished before the stop was seen has written its file: that stands.
        if (status == ExitDone)
            return status;
        break;
    case CliCommand::Display:
        if (options.watch)
            return watchDisplay(commands, stop, console);
        status = commands.printDisplay();
        break;
    case CliCommand::Key:
        status = commands.pressKeys(options.keys);
        break;
    case CliCommand::Read:
        status = commands.readRegisters(options.address, options.count, options.repeat);
        break;
    case CliCommand::Ports:
    case CliCommand::Scan: {
        const QString scanned = chosenDevice(options, settings);
        ScanPlan plan;
        plan.bauds = options.scanBauds;
        plan.slaves = options.slaves;
        plan.likelySlave = settings.SlaveId;
        plan.likelyBaud = settings.BaudText.toInt();
        plan.first = options.first;
        if (isTcpDeviceName(scanned)) {
            // A gateway's serial line runs at the one speed it is set to.
            if (plan.bauds.size() > 1) {
                printLine(console.err, QStringLiteral("meterlink-cli: a gateway's line has the "
                                                      "one speed it is set to: give --baud "
                                                      "one rate"));
                return ExitUsage;
            }
            if (plan.bauds.isEmpty())
                plan.bauds = {settingsEndpoint(settings, QStringLiteral("."), scanned).baud};
        }
        status = runScan(scanned, plan, console, [&stop] { return stopAsked(stop); });
        break;
    }
    case CliCommand::Decode:
    case CliCommand::None:
        break;
    }
    if (stopAsked(stop)) {
        const bool terminated = stop.signalNumber() == SIGTERM;
        printLine(console.err,
                  QStringLiteral("meterlink-cli: stopped by %1")
                      .arg(terminated ? QStringLiteral("SIGTERM") : QStringLiteral("SIGINT")));
        return terminated ? ExitTerminated : ExitInterrupted;
    }
    return status;
}

} // namespace meterlink
