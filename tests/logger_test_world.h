#pragma once

#include "logger/download_log.h"
#include "logger/download_panel.h"
#include "logger/download_view.h"
#include "logger/grid_model.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"
#include "sim/fake_event_pump.h"
#include "sim/in_memory_port.h"
#include "sim/simulated_meter.h"
#include "tests/line_endpoint.h"

#include <QLocale>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace meterlink {

// Remembers what the download showed, and whether the grid was being redrawn at each
// progress step.
struct RecordingPanel : DownloadPanel, DownloadView {
    explicit RecordingPanel(const GridModel& grid) : grid(grid) {}

    void setText3(int index, const QString& text) override { text3[index].push_back(text); }
    void setProgress(float value) override {
        progress.push_back(value);
        redrawAtProgress.push_back(grid.Redraw());
    }
    void setStatusText(const QString& text) override { statuses << text; }
    void setStatusToolTip(const QString& reason) override { toolTip = reason; }
    void setDownloadEnabled(bool enabled) override { enabled_.push_back(enabled); }

    QString lastText3(int index) const {
        const auto found = text3.find(index);
        return found == text3.end() ? QStringLiteral("<unset>") : found->second.back();
    }

    const GridModel& grid;
    std::map<int, QStringList> text3;
    std::vector<float> progress;
    std::vector<bool> redrawAtProgress;
    QStringList statuses;
    QString toolTip;
    std::vector<bool> enabled_;
};

// A function-96 request as it went out.
struct BlockRequest {
    int bank = 0;
    int addressHi = 0;
    int addressLo = 0;
    int length = 0;
};

// The meter on an in-memory line, the link, the grid and the download, all in one place.
struct LoggerWorld {
    explicit LoggerWorld(MeterLog log = MeterLog()) : meter(std::move(log)) {
        port.setResponder([this](const QByteArray& written, double now) {
            if (intercept) {
                if (auto replies = intercept(written))
                    return *replies;
            }
            return meter.receive(written, now);
        });
    }

    std::vector<QByteArray> framesOf(int function) const {
        std::vector<QByteArray> frames;
        for (const auto& frame : port.written())
            if (frame.bytes.size() > 1 && quint8(frame.bytes[1]) == function)
                frames.push_back(frame.bytes);
        return frames;
    }
    // Log block requests (function 96 outside the channel bank), in order.
    std::vector<BlockRequest> blockRequests() const {
        std::vector<BlockRequest> requests;
        for (const QByteArray& f : framesOf(0x60)) {
            if (quint8(f[2]) == DownloadLog::channelBank)
                continue;
            requests.push_back(
                {quint8(f[2]), quint8(f[3]), quint8(f[4]), quint8(f[5]) * 256 + quint8(f[6])});
        }
        return requests;
    }

    // Answers a request instead of the meter (no replies: silence); nullopt lets the meter
    // answer.
    std::function<std::optional<std::vector<MeterReply>>(const QByteArray&)> intercept;

    FakeClock clock{36000.0};
    FakeEventPump pump{clock, 0.002};
    InMemoryPort port{clock};
    Settings settings{1, QStringLiteral("38400"), 1, QStringLiteral("Logdata.csv")};
    ModbusLink link{port, clock, pump, lineAtSettingsSpeed(settings)};
    SimulatedMeter meter;
    GridModel grid;
    RecordingPanel panel{grid};
    DownloadLog download{link, pump,  settings,
                         grid, panel, QLocale(QLocale::English, QLocale::UnitedStates)};
};

inline MeterLog generatedLog(int records) {
    MeterLog::Generation how;
    how.records = records;
    return MeterLog::generated(how);
}

} // namespace meterlink
