// Measures the processor time one unanswered function-3 transaction costs on a real
// pseudo-terminal: the whole 3-second wait should sleep, not spin.
#include "modbus/modbus_link.h"
#include "platform/make_serial_port.h"
#include "platform/qt_event_pump.h"
#include "platform/system_clock.h"
#include "tests/pty_pair.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char** argv) {
    using namespace meterlink;
    QCoreApplication app(argc, argv);
    if (!PtyPair::available()) {
        std::puts("socat is not installed; nothing measured");
        return 0;
    }
    PtyPair pty;
    if (!pty.start()) {
        std::puts("socat did not start");
        return 2;
    }
    SystemClock clock;
    // The port and pump as the programs build them.
    const std::unique_ptr<SerialPort> serialPort = makeSerialPort();
    SerialPort& port = *serialPort;
    QtEventPump pump;
    pairPumpWithPort(pump, port);
    const LinkEndpoint line{pty.first(), 9600, QString()};
    ModbusLink link(port, clock, pump, [line] { return line; });
    LinkSession session(link);

    // The port opens in the transaction; its cost is nothing beside the 0.1 s allowed.
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds();
    const LinkAnswer answer = session.ReadHoldingRegisters(1, 0, 24, 10);
    const double cpu = cpuSeconds() - cpuBefore;
    if (answer.failure.fault != LinkFault::NoAnswer) {
        std::printf("%s\n", qPrintable(describe(answer.failure)));
        return 2;
    }
    std::printf("%s\nwall %.3f s, cpu %.4f s (limit 0.1 s)\n", qPrintable(describe(answer.failure)),
                wall.elapsed() / 1000.0, cpu);
    return cpu < 0.1 ? 0 : 1;
}
