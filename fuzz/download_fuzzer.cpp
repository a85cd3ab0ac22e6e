// A whole download against a meter whose every answer comes from the fuzz input: the state
// block first, then the channel configurations and the log blocks, until the input runs out
// and the meter falls silent.

#include "fuzz/fuzz_check.h"
#include "logger/csv_export.h"
#include "logger/download_log.h"
#include "logger/download_panel.h"
#include "logger/grid_model.h"
#include "modbus/crc16.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"
#include "sim/fake_event_pump.h"
#include "sim/in_memory_port.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

using namespace meterlink;

namespace {

struct Panel : DownloadPanel {
    void setText3(int index, const QString&) override {
        fuzzCheck(index >= 0 && index <= 9, "Text3 has ten boxes");
    }
    void setProgress(float value) override {
        fuzzCheck(value >= 0.0f && value <= 100.0f, "progress stays within 0 to 100");
    }
};

// One answer shaped by a control byte: silent, a wrong CRC, or the data the request asks
// for (or as many as the input says) in a correctly framed response.
class FuzzedMeter {
public:
    explicit FuzzedMeter(FuzzedDataProvider& input) : input_(input) {}

    std::vector<MeterReply> answer(const QByteArray& request) {
        if (input_.remaining_bytes() == 0 || request.size() < 7)
            return {};
        const uint8_t control = nextByte();
        if (control & 0x01)
            return {};
        const int function = quint8(request[1]);
        const int asked = function == 3 ? quint8(request[5]) * 2
                                        : (quint8(request[5]) * 256 + quint8(request[6])) * 2;
        size_t count = size_t(asked);
        if (control & 0x02) {
            count = nextByte() * 256;
            count = (count + nextByte()) % 1100;
        }
        const std::string data = input_.ConsumeBytesAsString(count);
        QByteArray frame = request.left(function == 3 ? 2 : 5);
        if (function == 3) {
            frame.append(char(data.size() & 0xFF));
        } else {
            frame.append(char((data.size() >> 8) & 0xFF));
            frame.append(char(data.size() & 0xFF));
        }
        frame.append(QByteArray::fromStdString(data));
        frame = withCrc(frame);
        if (control & 0x04)
            frame[frame.size() - 1] = char(frame.back() ^ 0x5A);
        return {{frame, 0.0}};
    }

private:
    // In input order, so that a seed reads as the conversation it is.
    uint8_t nextByte() {
        const auto bytes = input_.ConsumeBytes<uint8_t>(1);
        return bytes.empty() ? 0 : bytes[0];
    }

    FuzzedDataProvider& input_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir directory;
    fuzzCheck(directory.isValid(), "a temporary directory");

    FuzzedDataProvider input(data, size);
    FuzzedMeter meter(input);
    FakeClock clock(36000.0);
    FakeEventPump pump(clock, 0.01);
    InMemoryPort port(clock,
                      [&](const QByteArray& written, double) { return meter.answer(written); });
    Settings settings{1, QStringLiteral("38400"), 1, directory.filePath("Logdata.csv")};
    ModbusLink link(port, clock, pump, [] {
        return LinkEndpoint{QStringLiteral("line"), 38400, QString()};
    });
    GridModel grid;
    Panel panel;
    DownloadLog download(link, pump, settings, grid, panel,
                         QLocale(QLocale::English, QLocale::UnitedStates));

    const qint16 result = download.run();
    fuzzCheck(result == DownloadLog::Completed || result == DownloadLog::Empty ||
                  result == DownloadLog::Failed,
              "the download ends with 0, 1 or 2");
    fuzzCheck(result != DownloadLog::Failed || !download.failureReason().isEmpty(),
              "a failed download says why");
    fuzzCheck(!link.busy(), "the link is free afterwards");
    fuzzCheck(grid.Redraw(), "the grid is redrawn again");
    fuzzCheck(download.LastGridRow() >= 1, "LastGridRow never falls below the header row");
    // No transaction outlives its limits: a few seconds each, however the answers go.
    fuzzCheck(clock.elapsed() <= 7.0 * double(port.written().size()) + 5.0,
              "the download ends within its transactions' limits");

    if (result != DownloadLog::Completed)
        return 0;
    CsvExport csv;
    fuzzCheck(
        csv.ExportCsv(grid, download.LastGridRow(), download.channelFlags(), settings.SaveFileName),
        "a completed download exports");
    QFile file(settings.SaveFileName);
    fuzzCheck(file.open(QIODevice::ReadOnly), "the export is there");
    // A channel name may hold any byte below 254, line ends included: count from the end.
    const QList<QByteArray> lines = file.readAll().split('\n');
    const int records = download.LastGridRow() - 1;
    fuzzCheck(lines.size() >= records + 2 && lines.back().isEmpty(), "one line per grid row");
    int inUse = 0;
    for (int k = 1; k <= channelCount; ++k)
        inUse += download.ChannelInUse(k);
    for (int line = int(lines.size()) - 1 - records; line < int(lines.size()) - 1; ++line) {
        fuzzCheck(lines[line].endsWith('\r'), "record lines end in CR LF");
        fuzzCheck(lines[line].count(',') == inUse, "a record line has one field per channel");
    }
    return 0;
}
