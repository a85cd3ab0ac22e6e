#pragma once

#include "app/stop_download_question.h"
#include "logger/grid_model.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"
#include "sim/fake_event_pump.h"
#include "sim/in_memory_port.h"
#include "sim/simulated_meter.h"
#include "tests/line_endpoint.h"

#include <functional>
#include <optional>
#include <vector>

namespace meterlink {

// What the window borrows: the simulated meter on an in-memory line, the link over it with
// a fake clock, and the grid's cells.
struct WindowLinkWorld {
    explicit WindowLinkWorld(Settings& settings)
        : link(port, clock, pump, lineAtSettingsSpeed(settings)) {
        meter.display().setMode(MeterDisplay::Mode::Plain);
        port.setResponder([this](const QByteArray& written, double now) {
            if (intercept) {
                if (auto replies = intercept(written))
                    return *replies;
            }
            return meter.receive(written, now);
        });
    }

    std::vector<QByteArray> frames() const {
        std::vector<QByteArray> out;
        for (const auto& frame : port.written())
            out.push_back(frame.bytes);
        return out;
    }

    // Answers a request instead of the meter (empty: silence); nullopt lets the meter answer.
    std::function<std::optional<std::vector<MeterReply>>(const QByteArray&)> intercept;

    FakeClock clock{36000.0};
    FakeEventPump pump{clock, 0.002};
    InMemoryPort port{clock};
    ModbusLink link;
    SimulatedMeter meter{MeterLog(), 1};
    GridModel grid;
};

// The user says "Yes" to stopping a download as soon as the window asks.
inline WithdrawQuestion stopAnsweredYes(QWidget*, const QString&,
                                        std::function<void(bool)> answer) {
    answer(true);
    return {};
}

} // namespace meterlink
