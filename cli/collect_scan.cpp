#include "cli/collect_scan.h"

#include "cli/cli_runner.h"
#include "cli/console_download_view.h"
#include "cli/exit_codes.h"
#include "logger/meter_float.h"
#include "modbus/crc16.h"
#include "platform/make_serial_port.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

namespace meterlink {

namespace {

constexpr int stateAddress = 76;
constexpr int stateRegisters = 8;
constexpr int answerBytes = 5 + 2 * stateRegisters;
constexpr int requestBytes = 8;
constexpr double turnaroundSeconds = 0.1;

void printLine(QIODevice& device, const QString& line) {
    device.write(line.toUtf8() + '\n');
}

// The records-used counter of a good answer from `slave`; -1 for anything else.
double recordsUsed(const QByteArray& answer, int slave) {
    if (answer.size() < answerBytes || quint8(answer.at(0)) != slave || answer.at(1) != 3 ||
        quint8(answer.at(2)) != 2 * stateRegisters)
        return -1;
    const QByteArray frame = answer.left(answerBytes);
    if (withCrc(frame.left(answerBytes - 2)) != frame)
        return -1;
    const auto byte = [&](int i) { return qint32(quint8(frame.at(3 + i))); };
    return DecodeMeterFloat(byte(8), byte(9), byte(10), byte(11));
}

} // namespace

double scanWaitSeconds(qint32 baud) {
    return turnaroundSeconds + (requestBytes + answerBytes) * 10.0 / baud;
}

int runScan(const QString& device, QList<qint32> bauds, QList<int> slaves, Console& console,
            const std::function<bool()>& stopped) {
    if (bauds.isEmpty())
        bauds = {1200, 2400, 4800, 9600, 19200, 38400};
    if (slaves.isEmpty())
        for (int id = 1; id <= 247; ++id)
            slaves.append(id);
    QElapsedTimer took;
    took.start();
    const int tries = int(bauds.size() * slaves.size());
    int tried = 0;
    int found = 0;
    int shownPercent = -1;
    for (const qint32 baud : bauds) {
        // A port of its own per speed: the line is set when the port opens.
        const std::unique_ptr<SerialPort> port = makeSerialPort();
        port->configure(device, baud);
        if (!port->open()) {
            printLine(
                console.err,
                QStringLiteral("meterlink-cli: cannot open %1: %2").arg(device, port->errorText()));
            return ExitLinkFailed;
        }
        for (const int slave : slaves) {
            if (stopped())
                break;
            if (console.errIsTerminal && tried * 100 / tries != shownPercent) {
                shownPercent = tried * 100 / tries;
                console.err.write(
                    ConsoleDownloadView::progressBarText(shownPercent).toUtf8() +
                    QStringLiteral(" %1 baud, slave %2 ").arg(baud).arg(slave).toUtf8());
            }
            ++tried;
            port->discardInput();
            QByteArray request;
            request.append(char(slave)).append(char(3)).append(char(0)).append(char(stateAddress));
            request.append(char(0)).append(char(stateRegisters));
            if (!port->write(withCrc(request)))
                continue;
            QDeadlineTimer deadline(qint64(scanWaitSeconds(baud) * 1000.0 + 0.5));
            QByteArray answer;
            while (answer.size() < answerBytes && !deadline.hasExpired() && !stopped()) {
                if (port->bytesWaiting() > 0)
                    answer += port->take(port->bytesWaiting());
                else
                    QThread::msleep(1);
                QCoreApplication::processEvents(); // a stop signal arrives as an event
            }
            const double used = recordsUsed(answer, slave);
            if (used < 0)
                continue;
            ++found;
            if (console.errIsTerminal)
                console.err.write("\r\x1b[K");
            printLine(console.out, QStringLiteral("found: %1 baud, slave %2, records used%3")
                                       .arg(baud)
                                       .arg(slave)
                                       .arg(CounterText(float(used))));
        }
        if (stopped())
            break;
    }
    if (console.errIsTerminal)
        console.err.write("\r\x1b[K");
    printLine(console.out, QStringLiteral("%1 of %2 tries answered; the scan took %3 s%4")
                               .arg(found)
                               .arg(tried)
                               .arg(took.elapsed() / 1000.0, 0, 'f', 1)
                               .arg(stopped() ? QStringLiteral(" (stopped)") : QString()));
    return found > 0 ? ExitDone : ExitLinkFailed;
}

} // namespace meterlink
