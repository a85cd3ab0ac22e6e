// The Chart tab after a download: a full log must be on screen within 300 ms of the
// download's end, and a zoom or pan step must repaint within 33 ms (a frame at 30 Hz).
// "Drawn" means the series built from the grid and the chart rendered into a pixmap, as a
// repaint of the tab does.
#include "app/chart_tab.h"
#include "logger/grid_model.h"
#include "logger/record_decoder.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QPixmap>
#include <QRectF>
#include <benchmark/benchmark.h>

#include <cmath>
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
        inUse[size_t(k)] = -1;
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
