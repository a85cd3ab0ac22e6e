#pragma once

#include "modbus/meter_registers.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <array>
#include <optional>

namespace meterlink {

struct LinkFailure;
class ModbusLink;

// The register commands of meterlink-cli on a link: each returns its exit status and
// prints its results on `out` and its reasons for failing on `err`. Each runs in one
// session of the link, so that a stop ends it at once.
class MeterCommands {
public:
    static constexpr int displayLines = meter::DisplayLines;

    using DisplayLines = std::array<QString, displayLines>;

    MeterCommands(ModbusLink& link, int slave, QIODevice& out, QIODevice& err);

    int readRegisters(int address, int count, int repeat = 1);
    int pressKeys(const QString& keys);
    int printDisplay();

    // One refresh as the display tab makes it: each line read, cleaned and made printable;
    // a line whose read failed is empty (and `why` says why).
    std::array<std::optional<QString>, displayLines> readDisplay(QString* why = nullptr);

    // A register as printed by read: "24: 5349 \"SI\"".
    static QString registerLine(int address, quint8 high, quint8 low);

private:
    void print(QIODevice& device, const QString& line);
    static QString failureText(const LinkFailure& failure);

    ModbusLink& link_;
    int slave_;
    QIODevice& out_;
    QIODevice& err_;
};

} // namespace meterlink
