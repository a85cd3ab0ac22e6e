#pragma once

#include "modbus/modbus_link.h"
#include "settings/settings.h"
#include "sim/fake_clock.h"
#include "sim/fake_event_pump.h"
#include "sim/in_memory_port.h"
#include "sim/simulated_meter.h"
#include "tests/line_endpoint.h"

#include <QBuffer>

namespace meterlink {

// The command line's core on the in-memory line: the simulated meter, a fake clock that
// starts at noon, and captured output.
struct CliWorld {
    explicit CliWorld(MeterLog log = MeterLog()) : meter(std::move(log)) {
        settings.PortNumber = 1;
        settings.BaudText = QStringLiteral("38400");
        settings.SlaveId = 1;
        memoryPort.setResponder(
            [this](const QByteArray& written, double now) { return meter.receive(written, now); });
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
    }

    FakeClock clock{12 * 3600.0};
    FakeEventPump pump{clock, 0.001};
    InMemoryPort memoryPort{clock};
    SimulatedMeter meter;
    Settings settings;
    ModbusLink link{memoryPort, clock, pump, lineAtSettingsSpeed(settings)};
    QBuffer out;
    QBuffer err;
};

} // namespace meterlink
