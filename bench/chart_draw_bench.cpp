// The Chart tab after a download: a full log must be on screen within 300 ms of the
// download's end, and a zoom or pan step must repaint within 33 ms (a frame at 30 Hz). And
// how long "Open CSV…" takes over a 100 MB file, in the background.
// "Drawn" means the series built from the grid and the chart rendered into a pixmap, as a
// repaint of the tab does.
#include "app/chart_tab.h"
#include "chart/csv_series.h"
#include "logger/grid_model.h"
#include "logger/record_decoder.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QFile>
#include <QPixmap>
#include <QRectF>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>

namespace meterlink {
namespace {

// `rows` moments ten minutes apart, every channel read at each, as the download leaves them.
std::unique_ptr<GridModel> filledGrid(int rows, int channels, ChannelFlags& inUse) {
    auto grid = std::make_unique<GridModel>();
    RecordDecoder decoder(*grid, QLocale());
    grid->setRedraw(false);
    inUse = {};
    for (int k = 1; k <= channels; ++k) {
        inUse[size_t(k)] = true;
        grid->setTextMatrix(1, k + 1, QStringLiteral("Channel %1").arg(k));
    }
    const QDateTime start(QDate(2001, 3, 1), QTime(0, 0));
    for (int r = 0; r < rows; ++r) {
        const QDateTime at = start.addSecs(qint64(r) * 600);
        grid->setTextMatrix(r + 2, 1, decoder.timestampText(at.date(), at.time()));
        for (int k = 1; k <= channels; ++k) {
            const double value = 100.0 * k + 40 * std::sin(r / 70.0 + k) + (r % 13) * 0.3;
            grid->setTextMatrix(r + 2, k + 1, QStringLiteral(" %1").arg(value, 0, 'g', 7));
        }
    }
    grid->setRedraw(true);
    return grid;
}

ChartTab& shownTab() {
    static ChartTab* tab = [] {
        auto* made = new ChartTab;
        made->resize(1280, 800);
        made->show();
        return made;
    }();
    return *tab;
}

QChartView* viewOf(ChartTab& tab) {
    return tab.findChild<QChartView*>(QStringLiteral("ChartView"));
}

void DrawAfterDownload(benchmark::State& state) {
    ChannelFlags inUse;
    const auto grid = filledGrid(int(state.range(0)), int(state.range(1)), inUse);
    ChartTab& tab = shownTab();
    for (auto _ : state) {
        tab.showDownload(*grid, qint32(state.range(0)) + 1, inUse);
        QPixmap drawn = viewOf(tab)->grab();
        benchmark::DoNotOptimize(drawn);
    }
    state.counters["drawn_points"] = double(tab.drawnPoints());
}
BENCHMARK(DrawAfterDownload)
    ->Args({GridModel::initialRows, 8})
    ->Args({20000, 8})
    ->Unit(benchmark::kMillisecond);

// Alternately zooms in and out a wheel notch around the middle, or drags the picture a
// tenth of its width and back.
void ZoomOrPanStep(benchmark::State& state) {
    ChannelFlags inUse;
    const auto grid = filledGrid(20000, 8, inUse);
    ChartTab& tab = shownTab();
    tab.showDownload(*grid, 20001, inUse);
    const bool zoom = state.range(0) == 0;
    bool forth = true;
    const QRectF plot = tab.chart()->plotArea();
    for (auto _ : state) {
        if (zoom)
            tab.zoomTimeAt(forth ? 0.8 : 1 / 0.8, plot.center().x());
        else
            tab.panBy(forth ? plot.width() / 10 : -plot.width() / 10, 0);
        forth = !forth;
        QPixmap drawn = viewOf(tab)->grab();
        benchmark::DoNotOptimize(drawn);
    }
    state.counters["drawn_points"] = double(tab.drawnPoints());
}
BENCHMARK(ZoomOrPanStep)->ArgName("pan")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// "Open CSV…" on a 100 MB file collected overnight, read as the tab's background job does.
void ReadLargeCsv(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.csv"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            state.SkipWithError("cannot write the file");
            return;
        }
        file.write("Date / Time,Flow Rate,Totaliser,Pressure,Temperature\r\n");
        QByteArray lines;
        const QDate first(2001, 1, 1);
        QByteArray day;
        qint64 written = 0;
        for (qint64 n = 0; written + lines.size() < state.range(0) * 1024 * 1024; ++n) {
            if (n % 1440 == 0)
                day = first.addDays(n / 1440).toString(QStringLiteral("dd/MM/yyyy ")).toLatin1();
            char stamp[16];
            std::snprintf(stamp, sizeof stamp, "%02d:%02d:00", int(n / 60 % 24), int(n % 60));
            lines += day + stamp;
            lines += QByteArray(", ") + QByteArray::number(100 + n % 97 * 0.5) + ", " +
                     QByteArray::number(n * 3) + ", " + QByteArray::number(2.5 + n % 13 * 0.1) +
                     ", " + QByteArray::number(15 + n % 29 * 0.2) + "\r\n";
            if (lines.size() > 1 << 20) {
                written += file.write(lines);
                lines.clear();
            }
        }
        file.write(lines);
    }
    std::size_t points = 0;
    for (auto _ : state) {
        const CsvSeries read = readCsvSeries(path, QLocale::c());
        points = 0;
        for (const ChannelSeries& channel : read.data.channels)
            points += channel.times.size();
    }
    state.counters["readings"] = double(points);
}
BENCHMARK(ReadLargeCsv)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace meterlink

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
