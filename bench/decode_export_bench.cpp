// The grid holds 16384 rows to start with: decoding that many records and writing them out
// should each stay well under 100 ms.
#include "logger/csv_export.h"
#include "logger/grid_model.h"
#include "logger/record_decoder.h"

#include <QLocale>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace meterlink {
namespace {

constexpr int recordCount = GridModel::initialRows;
constexpr int recordsPerBlock = 128;

quint8 bcd(int value) {
    return quint8((value / 10) * 16 + value % 10);
}

// One record a minute on channels 1 to 4 in turn: every record opens a row, the worst case.
std::vector<QByteArray> logBlocks() {
    std::vector<QByteArray> blocks;
    QByteArray block;
    for (int n = 0; n < recordCount; ++n) {
        const int minutes = n;
        const int channel = n % 4 + 1;
        const int day = 1 + (minutes / 1440) % 28;
        const float value = 100.0f + float(n % 997) * 0.125f;
        quint32 bits;
        std::memcpy(&bits, &value, sizeof bits);
        const char record[8] = {
            char(channel << 4 | 5),  char(bcd(day)),   char(bcd(minutes / 60 % 24)),
            char(bcd(minutes % 60)), char(bits >> 24), char(bits >> 16),
            char(bits >> 8),         char(bits)};
        block.append(record, 8);
        if (block.size() == recordsPerBlock * 8) {
            blocks.push_back(block);
            block.clear();
        }
    }
    return blocks;
}

void DecodeIntoGrid(benchmark::State& state) {
    const std::vector<QByteArray> blocks = logBlocks();
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    for (auto _ : state) {
        state.PauseTiming();
        auto grid = std::make_unique<GridModel>();
        state.ResumeTiming();
        RecordDecoder decoder(*grid, locale);
        qint32 lastRow = 1;
        grid->setRedraw(false);
        for (const QByteArray& block : blocks)
            decoder.DecodeRecord(block, lastRow);
        grid->setRedraw(true);
        benchmark::DoNotOptimize(lastRow);
        state.PauseTiming();
        grid.reset();
        state.ResumeTiming();
    }
    state.counters["records"] = recordCount;
}
BENCHMARK(DecodeIntoGrid)->Unit(benchmark::kMillisecond);

void ExportToFile(benchmark::State& state) {
    const std::vector<QByteArray> blocks = logBlocks();
    GridModel grid;
    RecordDecoder decoder(grid, QLocale(QLocale::English, QLocale::UnitedStates));
    qint32 lastRow = 1;
    for (const QByteArray& block : blocks)
        decoder.DecodeRecord(block, lastRow);
    ChannelFlags flags{false, true, true, true, true, false, false, false, false};
    QTemporaryDir dir;
    const QString path = dir.filePath("Logdata.csv");
    CsvExport csv;
    for (auto _ : state) {
        if (!csv.ExportCsv(grid, lastRow, flags, path))
            state.SkipWithError("export failed");
    }
    state.counters["rows"] = lastRow;
}
BENCHMARK(ExportToFile)->Unit(benchmark::kMillisecond);

// Prints one line per benchmark against its target after the usual table.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                millis_[run.benchmark_name()] = {run.GetAdjustedRealTime(),
                                                 run.GetAdjustedCPUTime()};
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        // Processor time decides: wall time on a shared machine measures the neighbours.
        for (const auto& [name, times] : millis_)
            std::printf("%s: %d records in %.1f ms processor, %.1f ms wall (target < 100 ms) %s\n",
                        name.c_str(), recordCount, times.second, times.first,
                        times.second < 100.0 ? "ok" : "TOO SLOW");
    }

private:
    std::map<std::string, std::pair<double, double>> millis_;
};

} // namespace
} // namespace meterlink

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    meterlink::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
