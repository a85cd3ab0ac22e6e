#include "app/chart_tab.h"

#include "chart/decimation.h"
#include "chart/grid_series.h"
#include "logger/record_decoder.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QSvgGenerator>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

namespace meterlink {

namespace {

constexpr double wheelZoomStep = 0.8; // the span shown after one wheel notch in
constexpr int panStepPixels = 40;
constexpr double minimumSpanMs = 60 * 1000.0;
constexpr int pixelsPerColumn = 2;
constexpr double hoverReachPixels = 6;

// The chart's view with the looking-closer gestures: a dragged rectangle zooms (the
// view's own), the wheel zooms the time around the pointer, the right or middle button
// drags the picture, the arrow keys move it.
class ChartView : public QChartView {
public:
    ChartView(QChart* chart, ChartTab* tab) : QChartView(chart), tab_(tab) {
        setRubberBand(QChartView::RectangleRubberBand);
        setRenderHint(QPainter::Antialiasing, false);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void wheelEvent(QWheelEvent* event) override {
        const double notches = event->angleDelta().y() / 120.0;
        if (notches == 0 || chart()->series().isEmpty()) {
            event->ignore();
            return;
        }
        tab_->zoomTimeAt(std::pow(wheelZoomStep, notches), event->position().x());
        event->accept();
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
            panning_ = true;
            last_ = event->position();
            setCursor(Qt::ClosedHandCursor);
            event->accept();
            return;
        }
        QChartView::mousePressEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (panning_) {
            const QPointF delta = event->position() - last_;
            last_ = event->position();
            tab_->panBy(-delta.x(), delta.y());
            event->accept();
            return;
        }
        if (event->buttons() == Qt::NoButton) {
            // Qt's own hover follows each line's outline, which is not kept for lines of
            // thousands of points; the nearest reading is looked up in the data instead.
            const QString text = tab_->pointNear(mapToScene(event->position().toPoint()));
            if (text.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(event->globalPosition().toPoint(), text, this);
        }
        QChartView::mouseMoveEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (panning_ &&
            (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton)) {
            panning_ = false;
            unsetCursor();
            event->accept();
            return;
        }
        QChartView::mouseReleaseEvent(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
        case Qt::Key_Left:
            tab_->panBy(-panStepPixels, 0);
            break;
        case Qt::Key_Right:
            tab_->panBy(panStepPixels, 0);
            break;
        case Qt::Key_Up:
            tab_->panBy(0, panStepPixels);
            break;
        case Qt::Key_Down:
            tab_->panBy(0, -panStepPixels);
            break;
        case Qt::Key_Plus:
            tab_->zoomTimeAt(wheelZoomStep, chart()->plotArea().center().x());
            break;
        case Qt::Key_Minus:
            tab_->zoomTimeAt(1 / wheelZoomStep, chart()->plotArea().center().x());
            break;
        default:
            QChartView::keyPressEvent(event);
            return;
        }
        event->accept();
    }

private:
    ChartTab* tab_;
    bool panning_ = false;
    QPointF last_;
};

QString defaultOpenChooser(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Open CSV"), QString(),
                                        QStringLiteral("CSV files (*.csv);;All files (*)"));
}

QString defaultSaveChooser(QWidget* parent) {
    const QString png = QStringLiteral("PNG image (*.png)");
    const QString svg = QStringLiteral("SVG image (*.svg)");
    QString filter = png;
    QString name = QFileDialog::getSaveFileName(parent, QStringLiteral("Save image"),
                                                QStringLiteral("chart.png"),
                                                png + QStringLiteral(";;") + svg, &filter);
    if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty())
        name += filter == svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    return name;
}

QString momentText(double msecs) {
    const QLocale locale;
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(qint64(msecs));
    return locale.toString(moment.date(), dateFormatWithFullYear(locale)) + QLatin1Char(' ') +
           locale.toString(moment.time(), timeFormatWithSeconds(locale));
}

} // namespace

ChartTab::ChartTab(QWidget* parent)
    : QWidget(parent), chooseOpen_(defaultOpenChooser), chooseSave_(defaultSaveChooser) {
    setObjectName(QStringLiteral("ChartTab"));
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    open_ = new QPushButton(QStringLiteral("Open CSV…"), this);
    open_->setObjectName(QStringLiteral("ChartOpenCsv"));
    save_ = new QPushButton(QStringLiteral("Save image…"), this);
    save_->setObjectName(QStringLiteral("ChartSaveImage"));
    reset_ = new QPushButton(QStringLiteral("Reset zoom"), this);
    reset_->setObjectName(QStringLiteral("ChartResetZoom"));
    reset_->setToolTip(QStringLiteral("Wheel: zoom the time · drag: zoom into a rectangle · "
                                      "right-drag or arrow keys: move · legend: show or hide "
                                      "a channel"));
    source_ = new QLabel(this);
    source_->setObjectName(QStringLiteral("ChartSource"));
    bar->addWidget(open_);
    bar->addWidget(save_);
    bar->addWidget(reset_);
    bar->addWidget(source_, 1);
    layout->addLayout(bar);

    chart_ = new QChart;
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    timeAxis_ = new QDateTimeAxis(chart_);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    connect(timeAxis_, &QDateTimeAxis::rangeChanged, this, [this] {
        updateTimeFormat();
        // setTimeRange() has drawn for it already; a dragged rectangle has not.
        if (timeRange() != drawnRange_)
            redraw();
    });
    // Axis labels of a new width move the plot's edge by a few pixels; only a new width
    // changes what is drawn per pixel column.
    connect(chart_, &QChart::plotAreaChanged, this, [this](const QRectF& plot) {
        if (int(plot.width()) != drawnColumns_) {
            updateTimeFormat();
            redraw();
        }
    });

    view_ = new ChartView(chart_, this);
    view_->setObjectName(QStringLiteral("ChartView"));

    empty_ = new QLabel(this);
    empty_->setObjectName(QStringLiteral("ChartEmpty"));
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setWordWrap(true);
    empty_->setTextFormat(Qt::RichText);
    empty_->setText(QStringLiteral(
        "<p style='font-size:large'><b>Nothing to chart yet</b></p>"
        "<p>Press \"Download Data\" on the Download tab to read the meter's log: every "
        "channel is drawn here against time.</p>"
        "<p>Or press \"Open CSV…\" to look at a file of records saved earlier, on this PC or "
        "another.</p>"));

    pages_ = new QStackedWidget(this);
    pages_->addWidget(empty_);
    pages_->addWidget(view_);
    layout->addWidget(pages_, 1);

    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("ChartNote"));
    note_->setWordWrap(true);
    note_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(note_);

    save_->setEnabled(false);
    reset_->setEnabled(false);
    connect(open_, &QPushButton::clicked, this, &ChartTab::chooseAndOpen);
    connect(save_, &QPushButton::clicked, this, &ChartTab::chooseAndSave);
    connect(reset_, &QPushButton::clicked, this, &ChartTab::resetZoom);

    watcher_ = new QFutureWatcher<CsvSeries>(this);
    connect(watcher_, &QFutureWatcher<CsvSeries>::finished, this, &ChartTab::fileReadDone);
}

ChartTab::~ChartTab() {
    // A file still being read must not outlive the tab that waits for it.
    if (cancel_)
        cancel_->store(true);
    watcher_->waitForFinished();
    clearChart();
}

void ChartTab::showDownload(const GridModel& grid, qint32 lastGridRow, const ChannelFlags& inUse) {
    ChartData data = seriesFromGrid(grid, lastGridRow, inUse);
    const QString source =
        QStringLiteral("Download of %1")
            .arg(QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat));
    setNote(data.leftOut.text());
    display(std::move(data), source);
}

void ChartTab::openCsv(const QString& path) {
    if (reading())
        return;
    readingPath_ = path;
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    open_->setEnabled(false);
    setNote(QStringLiteral("Reading %1…").arg(QDir::toNativeSeparators(path)));
    const QLocale locale;
    watcher_->setFuture(QtConcurrent::run(
        [path, locale, cancel = cancel_] { return readCsvSeries(path, locale, cancel.get()); }));
}

bool ChartTab::reading() const {
    return watcher_->isRunning();
}

void ChartTab::fileReadDone() {
    open_->setEnabled(true);
    CsvSeries result = watcher_->result();
    if (!result.error.isEmpty()) {
        // What was shown stays: a bad file loses nothing.
        setNote(result.error);
    } else {
        setNote(result.data.leftOut.text());
        display(std::move(result.data), QFileInfo(readingPath_).fileName());
    }
    emit fileRead();
}

void ChartTab::chooseAndOpen() {
    const QString path = chooseOpen_(this);
    if (!path.isEmpty())
        openCsv(path);
}

void ChartTab::chooseAndSave() {
    const QString path = chooseSave_(this);
    if (!path.isEmpty())
        saveImage(path);
}

bool ChartTab::saveImage(const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        setNote(QStringLiteral("Cannot write %1: %2").arg(shown, file.errorString()));
        return false;
    }
    bool drawn = false;
    if (QFileInfo(path).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(view_->size());
        svg.setViewBox(QRect(QPoint(0, 0), view_->size()));
        svg.setTitle(source_->text());
        QPainter painter;
        drawn = painter.begin(&svg);
        if (drawn) {
            view_->render(&painter);
            drawn = painter.end();
        }
    } else {
        drawn = view_->grab().save(&file, "PNG");
    }
    if (!drawn || !file.commit()) {
        setNote(
            QStringLiteral("Cannot write %1: %2")
                .arg(shown, drawn ? file.errorString() : QStringLiteral("the image was not made")));
        return false;
    }
    setNote(QStringLiteral("Chart saved to %1").arg(shown));
    return true;
}

void ChartTab::setNote(const QString& text) {
    note_->setText(text);
}

void ChartTab::clearChart() {
    for (ChannelView& view : views_) {
        for (QLineSeries* run : view.runs) {
            chart_->removeSeries(run);
            delete run;
        }
        chart_->removeAxis(view.axis);
        delete view.axis;
    }
    views_.clear();
}

void ChartTab::display(ChartData data, const QString& source) {
    clearChart();
    data_ = std::move(data);
    if (data_.empty()) {
        pages_->setCurrentWidget(empty_);
        source_->setText(source.isEmpty() ? QString()
                                          : source + QStringLiteral(": no readings to chart"));
        save_->setEnabled(false);
        reset_->setEnabled(false);
        return;
    }

    fullFrom_ = std::numeric_limits<double>::max();
    fullTo_ = std::numeric_limits<double>::lowest();
    std::size_t points = 0;
    for (const ChannelSeries& channel : data_.channels) {
        if (channel.times.empty())
            continue;
        fullFrom_ = std::min(fullFrom_, channel.times.front());
        fullTo_ = std::max(fullTo_, channel.times.back());
        points += channel.times.size();
    }
    if (fullTo_ - fullFrom_ < minimumSpanMs) {
        fullFrom_ -= minimumSpanMs / 2;
        fullTo_ += minimumSpanMs / 2;
    }

    views_.resize(data_.channels.size());
    for (std::size_t c = 0; c < data_.channels.size(); ++c) {
        ChannelView& view = views_[c];
        view.axis = new QValueAxis;
        view.axis->setLabelFormat(QStringLiteral("%.6g"));
        chart_->addAxis(view.axis, c % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
    }
    source_->setText(QStringLiteral("%1: %2 rows, %3 readings, %4 channels")
                         .arg(source)
                         .arg(data_.rows)
                         .arg(points)
                         .arg(data_.channels.size()));
    pages_->setCurrentWidget(view_);
    save_->setEnabled(true);
    reset_->setEnabled(true);
    resetZoom();
}

void ChartTab::resetZoom() {
    if (views_.empty())
        return;
    for (std::size_t c = 0; c < views_.size(); ++c) {
        const ChannelSeries& channel = data_.channels[c];
        double low = 0, high = 1;
        if (!channel.values.empty()) {
            const auto [min, max] =
                std::minmax_element(channel.values.begin(), channel.values.end());
            low = *min;
            high = *max;
        }
        const double margin =
            high > low ? (high - low) * 0.05 : std::max(std::abs(low) * 0.05, 1.0);
        views_[c].axis->setRange(low - margin, high + margin);
        views_[c].axis->applyNiceNumbers();
    }
    setTimeRange(fullFrom_, fullTo_);
    redraw();
}

std::pair<double, double> ChartTab::timeRange() const {
    return {double(timeAxis_->min().toMSecsSinceEpoch()),
            double(timeAxis_->max().toMSecsSinceEpoch())};
}

void ChartTab::setTimeRange(double from, double to) {
    const QDateTime first = QDateTime::fromMSecsSinceEpoch(qint64(std::floor(from)));
    const QDateTime last = QDateTime::fromMSecsSinceEpoch(qint64(std::ceil(to)));
    if (views_.empty() || (first == timeAxis_->min() && last == timeAxis_->max())) {
        timeAxis_->setRange(first, last);
        return;
    }
    // The points for the new span go in quietly and the span change then lays out each line
    // once, instead of once for the old points and again for the new.
    redraw(double(first.toMSecsSinceEpoch()), double(last.toMSecsSinceEpoch()), true);
    timeAxis_->setRange(first, last);
}

void ChartTab::zoomTimeAt(double factor, double x) {
    const QRectF plot = chart_->plotArea();
    if (views_.empty() || plot.width() <= 0)
        return;
    const auto [from, to] = timeRange();
    const double share = std::clamp((x - plot.left()) / plot.width(), 0.0, 1.0);
    const double at = from + (to - from) * share;
    const double span = std::max((to - from) * factor, minimumSpanMs);
    setTimeRange(at - span * share, at - span * share + span);
}

void ChartTab::panBy(double dx, double dy) {
    const QRectF plot = chart_->plotArea();
    if (views_.empty() || plot.width() <= 0 || plot.height() <= 0)
        return;
    if (dy != 0) {
        for (ChannelView& view : views_) {
            const double shift = dy / plot.height() * (view.axis->max() - view.axis->min());
            view.axis->setRange(view.axis->min() + shift, view.axis->max() + shift);
        }
    }
    if (dx != 0) {
        const auto [from, to] = timeRange();
        const double shift = dx / plot.width() * (to - from);
        setTimeRange(from + shift, to + shift);
    }
}

void ChartTab::updateTimeFormat() {
    const auto [from, to] = timeRange();
    const double span = to - from;
    const bool years = QDateTime::fromMSecsSinceEpoch(qint64(from)).date().year() !=
                       QDateTime::fromMSecsSinceEpoch(qint64(to)).date().year();
    QString format;
    if (span < 15 * 60 * 1000.0)
        format = QStringLiteral("d MMM hh:mm:ss");
    else if (years)
        format = QStringLiteral("d MMM yyyy hh:mm");
    else
        format = QStringLiteral("d MMM hh:mm");
    if (timeAxis_->format() != format)
        timeAxis_->setFormat(format);
    const int ticks = std::clamp(int(chart_->plotArea().width() / 120) + 1, 2, 12);
    if (timeAxis_->tickCount() != ticks)
        timeAxis_->setTickCount(ticks);
}

void ChartTab::redraw() {
    const auto [from, to] = timeRange();
    redraw(from, to, false);
}

void ChartTab::redraw(double from, double to, bool quietly) {
    if (redrawing_ || views_.empty())
        return;
    redrawing_ = true;
    // Where there are more points than pixels, each pair of pixel columns keeps its lowest
    // and highest point: about one point a pixel. Qt lays out every point of a line for its
    // hover outline, and two a pixel made a zoom step of a full log miss a frame at 30 Hz.
    const int columns = std::max(int(chart_->plotArea().width()) / pixelsPerColumn, 1);
    drawnColumns_ = int(chart_->plotArea().width());
    drawnRange_ = {from, to};
    for (std::size_t c = 0; c < views_.size(); ++c) {
        ChannelView& view = views_[c];
        const ChannelSeries& channel = data_.channels[c];
        std::size_t used = 0;
        if (!channel.times.empty()) {
            for (std::size_t s = 0; s < channel.segmentStarts.size(); ++s) {
                const std::size_t first = channel.segmentStarts[s];
                const std::size_t end = channel.segmentEnd(s);
                if (channel.times[end - 1] < from || channel.times[first] > to)
                    continue;
                const std::vector<QPointF> points =
                    decimateMinMax(channel.times.data() + first, channel.values.data() + first,
                                   end - first, from, to, columns);
                if (used == view.runs.size()) {
                    auto* run = new QLineSeries;
                    run->setName(channel.name);
                    chart_->addSeries(run);
                    run->attachAxis(timeAxis_);
                    run->attachAxis(view.axis);
                    if (!view.runs.empty()) {
                        run->setPen(view.runs.front()->pen());
                    } else {
                        // A one-pixel pen is drawn without the stroker: the dense lines of a
                        // full log repaint several times faster.
                        QPen pen = run->pen();
                        pen.setWidth(1);
                        run->setPen(pen);
                    }
                    if (!view.runs.empty()) {
                        chart_->legend()->markers(run).value(0)->setVisible(false);
                    } else {
                        view.axis->setLinePenColor(run->pen().color());
                        view.axis->setLabelsColor(run->pen().color());
                        QLegendMarker* marker = chart_->legend()->markers(run).value(0);
                        connect(marker, &QLegendMarker::clicked, this,
                                [this, c] { setChannelHidden(c, !views_[c].hidden); });
                    }
                    run->setVisible(!view.hidden);
                    view.runs.push_back(run);
                }
                QLineSeries* run = view.runs[used];
                const bool quiet = quietly && run->isVisible() && run->count() > 0;
                const QSignalBlocker blocker(quiet ? run : nullptr);
                run->replace(QList<QPointF>(points.begin(), points.end()));
                ++used;
            }
        }
        // The first run keeps the legend entry even when nothing of the channel is in view.
        for (std::size_t r = used; r < view.runs.size(); ++r) {
            if (!view.runs[r]->points().isEmpty())
                view.runs[r]->clear();
        }
    }
    redrawing_ = false;
}

void ChartTab::setChannelHidden(std::size_t index, bool hidden) {
    ChannelView& view = views_[index];
    view.hidden = hidden;
    view.axis->setVisible(!hidden);
    for (std::size_t r = 0; r < view.runs.size(); ++r) {
        view.runs[r]->setVisible(!hidden);
        // Hiding a series hides its legend entry; the first one stays to be clicked again.
        chart_->legend()->markers(view.runs[r]).value(0)->setVisible(r == 0);
    }
    if (!view.runs.empty()) {
        QLegendMarker* marker = chart_->legend()->markers(view.runs.front()).value(0);
        QColor label = chart_->legend()->labelColor();
        label.setAlphaF(hidden ? 0.4 : 1.0);
        marker->setLabelBrush(label);
    }
}

QString ChartTab::pointNear(const QPointF& at) const {
    const QPointF inChart = chart_->mapFromScene(at);
    if (!chart_->plotArea().contains(inChart))
        return QString();
    // The reading drawn nearest the pointer, over every channel shown, within a few pixels.
    double best = hoverReachPixels * hoverReachPixels;
    QString text;
    for (std::size_t c = 0; c < views_.size(); ++c) {
        const ChannelView& view = views_[c];
        const ChannelSeries& channel = data_.channels[c];
        if (view.hidden || view.runs.empty() || channel.times.empty())
            continue;
        QLineSeries* series = view.runs.front();
        const double from = chart_->mapToValue(inChart - QPointF(hoverReachPixels, 0), series).x();
        const double to = chart_->mapToValue(inChart + QPointF(hoverReachPixels, 0), series).x();
        auto first = std::lower_bound(channel.times.begin(), channel.times.end(), from);
        auto last = std::upper_bound(first, channel.times.end(), to);
        // A dense log has thousands of readings under the pointer; a sample of them will do.
        const std::size_t count = std::size_t(last - first);
        const std::size_t step = std::max<std::size_t>(1, count / 2000);
        for (std::size_t i = std::size_t(first - channel.times.begin()),
                         end = std::size_t(last - channel.times.begin());
             i < end; i += step) {
            const QPointF shown =
                chart_->mapToPosition(QPointF(channel.times[i], channel.values[i]), series);
            const QPointF d = shown - inChart;
            const double distance = d.x() * d.x() + d.y() * d.y();
            if (distance <= best) {
                best = distance;
                text = QStringLiteral("%1\n%2\n%3")
                           .arg(channel.name, momentText(channel.times[i]),
                                QString::number(channel.values[i], 'g', 7));
            }
        }
    }
    return text;
}

std::size_t ChartTab::drawnPoints() const {
    std::size_t points = 0;
    for (const ChannelView& view : views_) {
        for (const QLineSeries* run : view.runs)
            points += std::size_t(run->count());
    }
    return points;
}

} // namespace meterlink
