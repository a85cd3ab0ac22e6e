#include "cli/collect_scan.h"

#include "cli/cli_runner.h"
#include "cli/console_download_view.h"
#include "cli/exit_codes.h"
#include "logger/meter_float.h"
#include "modbus/crc16.h"
#include "modbus/meter_registers.h"
#include "platform/make_serial_port.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSet>
#include <QThread>

#include <algorithm>

namespace meterlink {

namespace {

constexpr int answerBytes = 5 + 2 * meter::LoggerStateRegisters;
constexpr int requestBytes = 8;
// Real meters, and radio or network gateways, take up to half a second to answer.
constexpr double slowTurnaround = 0.5;
// The long tail of IDs gets the meter's own turnaround; an answer that comes later is
// still heard during a later try and earns its ID a second, long look.
constexpr double quickTurnaround = 0.1;

void printLine(QIODevice& device, const QString& line) {
    device.write(line.toUtf8() + '\n');
}

// What a try heard: nothing, an answer of some slave, or bytes that are no answer.
struct Heard {
    bool anything = false;
    int firstByte = -1;      // names the slave of an answer that came late, or in part
    int fromSlave = -1;      // the slave a whole answer or exception came from
    double recordsUsed = -1; // of a good answer
    int exceptionCode = -1;  // of an exception answer
};

Heard judge(const QByteArray& bytes) {
    Heard heard;
    heard.anything = !bytes.isEmpty();
    heard.firstByte = heard.anything ? quint8(bytes.at(0)) : -1;
    if (bytes.size() >= 5 && quint8(bytes.at(1)) == 0x83 &&
        withCrc(bytes.left(3)) == bytes.left(5)) {
        heard.fromSlave = quint8(bytes.at(0));
        heard.exceptionCode = quint8(bytes.at(2));
        return heard;
    }
    if (bytes.size() < answerBytes || bytes.at(1) != 3 ||
        quint8(bytes.at(2)) != 2 * meter::LoggerStateRegisters)
        return heard;
    const QByteArray frame = bytes.left(answerBytes);
    if (withCrc(frame.left(answerBytes - 2)) != frame)
        return heard;
    heard.fromSlave = quint8(frame.at(0));
    const auto byte = [&](int i) { return qint32(quint8(frame.at(3 + i))); };
    heard.recordsUsed = DecodeMeterFloat(byte(8), byte(9), byte(10), byte(11));
    return heard;
}

QString idsText(QList<int> ids) {
    std::sort(ids.begin(), ids.end());
    QStringList parts;
    for (qsizetype i = 0; i < ids.size();) {
        qsizetype j = i;
        while (j + 1 < ids.size() && ids.at(j + 1) == ids.at(j) + 1)
            ++j;
        parts << (j == i ? QString::number(ids.at(i))
                         : QStringLiteral("%1-%2").arg(ids.at(i)).arg(ids.at(j)));
        i = j + 1;
    }
    return parts.join(QLatin1Char(','));
}

class Scan {
public:
    Scan(const QString& device, Console& console, const std::function<bool()>& stopped, bool first)
        : device_(device), console_(console), stopped_(stopped), first_(first) {}

    // One pass over `slaves` at one speed; false when the port did not open.
    bool pass(qint32 baud, const QList<int>& slaves, double turnaround);
    bool done() const { return stopped_() || (first_ && found > 0); }

    // What the summary tells: meters found, places (speed and ID) tried of all planned.
    int found = 0;
    int tried = 0;
    int tries = 1;
    QSet<qint64> triedPlaces;
    QList<qint32> baudsTried;
    QList<int> slavesTried;

private:
    Heard ask(SerialPort& port, qint32 baud, int slave, double turnaround);
    void show(qint32 baud, int slave, const Heard& heard);

    const QString& device_;
    Console& console_;
    const std::function<bool()>& stopped_;
    bool first_;
    QSet<qint64> shown_;
    int shownPercent_ = -1;
};

Heard Scan::ask(SerialPort& port, qint32 baud, int slave, double turnaround) {
    port.discardInput();
    QByteArray request;
    request.append(char(slave)).append(char(3));
    request.append(char(meter::LoggerStateRegister / 256))
        .append(char(meter::LoggerStateRegister % 256));
    request.append(char(0)).append(char(meter::LoggerStateRegisters));
    if (!port.write(withCrc(request)))
        return {};
    QDeadlineTimer deadline(qint64(scanWaitSeconds(baud, turnaround) * 1000.0 + 0.5));
    QByteArray answer;
    while (answer.size() < answerBytes && !deadline.hasExpired() && !stopped_()) {
        if (port.bytesWaiting() > 0)
            answer += port.take(port.bytesWaiting());
        else
            QThread::msleep(1);
        QCoreApplication::processEvents(); // a stop signal arrives as an event
    }
    return judge(answer);
}

void Scan::show(qint32 baud, int slave, const Heard& heard) {
    if (shown_.contains(qint64(baud) * 256 + slave))
        return;
    shown_.insert(qint64(baud) * 256 + slave);
    ++found;
    if (console_.errIsTerminal)
        console_.err.write("\r\x1b[K");
    const QString what =
        heard.exceptionCode >= 0
            ? QStringLiteral("answers, exception %1").arg(heard.exceptionCode)
            : QStringLiteral("records used%1").arg(CounterText(float(heard.recordsUsed)));
    printLine(console_.out,
              QStringLiteral("found: %1 baud, slave %2, %3").arg(baud).arg(slave).arg(what));
}

bool Scan::pass(qint32 baud, const QList<int>& slaves, double turnaround) {
    if (slaves.isEmpty() || done())
        return true;
    // A port of its own per pass: the line is set when the port opens.
    const std::unique_ptr<SerialPort> port = makeSerialPort();
    port->configure(device_, baud);
    if (!port->open()) {
        printLine(
            console_.err,
            QStringLiteral("meterlink-cli: cannot open %1: %2").arg(device_, port->errorText()));
        return false;
    }
    if (!baudsTried.contains(baud))
        baudsTried << baud;
    QList<int> again; // where something was heard: a second, long look
    const QSet<int> asked(slaves.cbegin(), slaves.cend());
    for (const int slave : slaves) {
        if (done())
            return true;
        const qint64 place = qint64(baud) * 256 + slave;
        if (!triedPlaces.contains(place)) {
            triedPlaces.insert(place);
            ++tried;
        }
        if (!slavesTried.contains(slave))
            slavesTried << slave;
        if (console_.errIsTerminal && tried * 100 / tries != shownPercent_) {
            shownPercent_ = tried * 100 / tries;
            console_.err.write(ConsoleDownloadView::progressBarText(shownPercent_).toUtf8() +
                               QStringLiteral(" %1 baud, slave %2 ").arg(baud).arg(slave).toUtf8());
        }
        const Heard heard = ask(*port, baud, slave, turnaround);
        if (heard.fromSlave == slave) {
            show(baud, slave, heard);
        } else if (heard.fromSlave >= 0 && asked.contains(heard.fromSlave)) {
            // A whole answer to an earlier try, come late: a slow meter, found all the same.
            show(baud, heard.fromSlave, heard);
        } else if (heard.anything) {
            // A late answer to an earlier try names its slave; noise names nothing.
            for (const int candidate : {heard.fromSlave, heard.firstByte, slave})
                if (asked.contains(candidate) && !again.contains(candidate) &&
                    !shown_.contains(qint64(baud) * 256 + candidate))
                    again << candidate;
        }
    }
    if (turnaround < slowTurnaround) {
        for (const int slave : again) {
            if (done())
                return true;
            const Heard heard = ask(*port, baud, slave, slowTurnaround);
            if (heard.fromSlave == slave)
                show(baud, slave, heard);
        }
    }
    return true;
}

} // namespace

double scanWaitSeconds(qint32 baud, double turnaround) {
    return turnaround + (requestBytes + answerBytes) * 10.0 / baud;
}

int runScan(const QString& device, const ScanPlan& plan, Console& console,
            const std::function<bool()>& stopped) {
    QList<qint32> bauds = plan.bauds;
    if (bauds.isEmpty()) {
        // The Settings tab's speeds, the settings' own first, then the commonest.
        bauds = {9600, 38400, 19200, 14400, 4800, 2400, 1200};
        if (bauds.removeOne(plan.likelyBaud))
            bauds.prepend(plan.likelyBaud);
    }
    QList<int> slaves = plan.slaves;
    if (slaves.isEmpty())
        for (int id = 1; id <= 255; ++id)
            slaves.append(id);
    QList<int> likely;
    for (const int id : {plan.likelySlave, 1, 247})
        if (slaves.contains(id) && !likely.contains(id))
            likely << id;
    QList<int> rest = slaves;
    for (const int id : likely)
        rest.removeAll(id);

    QElapsedTimer took;
    took.start();
    Scan scan(device, console, stopped, plan.first);
    scan.tries = int(bauds.size() * slaves.size());
    bool opened = true;
    for (const qint32 baud : bauds)
        opened = opened && scan.pass(baud, likely, slowTurnaround);
    for (const qint32 baud : bauds)
        opened = opened && scan.pass(baud, rest, quickTurnaround);
    if (!opened)
        return ExitLinkFailed;

    if (console.errIsTerminal)
        console.err.write("\r\x1b[K");
    QStringList speeds;
    for (const qint32 baud : scan.baudsTried)
        speeds << QString::number(baud);
    const bool complete = scan.tried == scan.tries;
    printLine(console.out,
              QStringLiteral("%1 of %2 tries answered (%3 baud; slave IDs %4); the scan took "
                             "%5 s%6")
                  .arg(scan.found)
                  .arg(scan.tried)
                  .arg(speeds.join(QLatin1Char(',')), idsText(scan.slavesTried))
                  .arg(took.elapsed() / 1000.0, 0, 'f', 1)
                  .arg(stopped()        ? QStringLiteral(" (stopped)")
                       : complete       ? QString()
                       : scan.found > 0 ? QStringLiteral(" (stopped at the first found)")
                                        : QString()));
    return scan.found > 0 ? ExitDone : ExitLinkFailed;
}

} // namespace meterlink
