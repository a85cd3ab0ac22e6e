#include "cli/meter_commands.h"

#include "cli/console_system.h"
#include "cli/display_text.h"
#include "cli/exit_codes.h"
#include "display/clean_display_text.h"
#include "modbus/modbus_link.h"

#include <QElapsedTimer>

namespace meterlink {

MeterCommands::MeterCommands(ModbusLink& link, int slave, QIODevice& out, QIODevice& err)
    : link_(link), slave_(slave), out_(out), err_(err) {}

void MeterCommands::print(QIODevice& device, const QString& line) {
    device.write(line.toUtf8() + '\n');
}

QString MeterCommands::failureText(const LinkFailure& failure) {
    const QString reason = describe(failure);
    return reason.isEmpty() ? QStringLiteral("the transaction failed") : reason;
}

QString MeterCommands::registerLine(int address, quint8 high, quint8 low) {
    QByteArray bytes;
    bytes.append(char(high)).append(char(low));
    return QStringLiteral("%1: %2 \"%3\"")
        .arg(address)
        .arg(QString::fromLatin1(bytes.toHex().toUpper()), printableMeterText(bytes));
}

int MeterCommands::readRegisters(int address, int count, int repeat) {
    LinkSession session(link_);
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    for (int n = 1; n <= repeat; ++n) {
        const LinkAnswer answer =
            session.ReadHoldingRegisters(slave_, address / 256, address % 256, count);
        if (!answer) {
            print(err_, QStringLiteral("meterlink-cli: read %1 of %2 failed: %3")
                            .arg(n)
                            .arg(repeat)
                            .arg(failureText(answer.failure)));
            return ExitLinkFailed;
        }
        if (n > 1)
            continue;
        const QByteArray& data = answer.data;
        for (int i = 0; i + 1 < data.size(); i += 2)
            print(out_, registerLine(address + i / 2, quint8(data[i]), quint8(data[i + 1])));
        print(out_, QStringLiteral("text: \"%1\"").arg(printableMeterText(data)));
    }
    if (repeat > 1) {
        const double seconds = qMax(wall.nsecsElapsed() / 1e9, 1e-9);
        const double cpu = processCpuSeconds() - cpuBefore;
        print(out_, QStringLiteral("%1 reads in %2 s: %3 transactions/s, %4 CPU s per 1000 "
                                   "transactions")
                        .arg(repeat)
                        .arg(seconds, 0, 'f', 3)
                        .arg(repeat / seconds, 0, 'f', 1)
                        .arg(cpu * 1000.0 / repeat, 0, 'f', 4));
    }
    return ExitDone;
}

int MeterCommands::pressKeys(const QString& keys) {
    LinkSession session(link_);
    for (int i = 0; i < keys.size(); ++i) {
        const QChar key = keys.at(i);
        // The key's character in the high byte, 255 in the low one.
        const quint16 value = quint16(quint8(key.toLatin1()) << 8 | 0xFF);
        const LinkAnswer answer =
            session.WriteMultipleRegisters(slave_, meter::KeyRegister, {value});
        if (!answer) {
            print(err_, QStringLiteral("meterlink-cli: key %1 (%2 of %3) was not taken: %4")
                            .arg(key)
                            .arg(i + 1)
                            .arg(keys.size())
                            .arg(failureText(answer.failure)));
            if (i > 0)
                print(err_, QStringLiteral("meterlink-cli: keys pressed: %1").arg(keys.left(i)));
            return ExitLinkFailed;
        }
    }
    print(out_, QStringLiteral("keys pressed: %1").arg(keys));
    return ExitDone;
}

std::array<std::optional<QString>, MeterCommands::displayLines>
MeterCommands::readDisplay(QString* why) {
    LinkSession session(link_);
    std::array<std::optional<QString>, displayLines> lines;
    for (int n = 0; n < displayLines; ++n) {
        // Every line is read even after one failed, as the display tab does.
        const LinkAnswer answer = session.ReadHoldingRegisters(
            slave_, 0, meter::FirstDisplayRegister + meter::RegistersPerDisplayLine * n,
            meter::RegistersPerDisplayLine);
        if (answer) {
            lines[size_t(n)] = printableMeterText(CleanDisplayText(answer.data));
        } else if (why && why->isEmpty()) {
            *why =
                QStringLiteral("display line %1: %2").arg(n + 1).arg(failureText(answer.failure));
        }
    }
    return lines;
}

int MeterCommands::printDisplay() {
    QString why;
    const auto lines = readDisplay(&why);
    if (!why.isEmpty()) {
        print(err_, QStringLiteral("meterlink-cli: ") + why);
        return ExitLinkFailed;
    }
    for (const auto& line : lines)
        print(out_, *line);
    return ExitDone;
}

} // namespace meterlink
