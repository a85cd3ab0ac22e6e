#pragma once

#include "sim/meter_display.h"
#include "sim/meter_log.h"

#include <QByteArray>
#include <QStringList>
#include <array>
#include <optional>

namespace meterlink {

// What a scenario file sets up; the format is described in meter_scenario.cpp and in
// `meterlink-sim --help`.
struct MeterScenario {
    std::optional<int> slaveId;
    MeterLog log;
    bool hasRecords = false;
    std::optional<MeterDisplay::Mode> displayMode;
    std::array<std::optional<QByteArray>, MeterDisplay::LineCount> displayLines;
    // "line N: why" for every line that was not understood; those lines are skipped.
    QStringList errors;
};

MeterScenario parseMeterScenario(const QByteArray& text);

// The scenario format, for --help.
QString meterScenarioHelp();

} // namespace meterlink
