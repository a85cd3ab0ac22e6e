#include "app/chart_tab.h"

#include "app/chart_dialogs.h"
#include "app/chart_view.h"
#include "app/image_file.h"
#include "chart/decimation.h"
#include "chart/grid_series.h"
#include "chart/image_series.h"
#include "logger/record_decoder.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPolygonF>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

namespace meterlink {

namespace {

constexpr double minimumSpanMs = 60 * 1000.0;
constexpr double hoverReachPixels = 6;
constexpr int maxImageSide = 16384; // 1 GB of pixels at most, not whatever a typo asks for

QString momentText(double msecs) {
    const QLocale locale;
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(qint64(msecs));
    return locale.toString(moment.date(), dateFormatWithFullYear(locale)) + QLatin1Char(' ') +
           locale.toString(moment.time(), timeFormatWithSeconds(locale));
}

} // namespace

ChartTab::ChartTab(QWidget* parent)
    : QWidget(parent), chooseOpen_(askChartFileToOpen), chooseSave_(askChartImageName),
      chooseSize_(askChartImageSize) {
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
    // What is shown, on a line of its own: a file's name may be long.
    source_->setWordWrap(true);
    bar->addWidget(open_);
    bar->addWidget(save_);
    bar->addWidget(reset_);
    bar->addStretch(1);
    layout->addLayout(bar);
    layout->addWidget(source_);

    chart_ = new QChart;
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    timeAxis_ = new QDateTimeAxis(chart_);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    connect(timeAxis_, &QDateTimeAxis::rangeChanged, this, [this] {
        updateTimeFormat();
        redraw();
    });
    // Axis labels of a new width move the plot's edge by a few pixels; only a new width
    // changes what is drawn per pixel column.
    connect(chart_, &QChart::plotAreaChanged, this, [this](const QRectF& plot) {
        if (int(plot.width()) != drawnColumns_) {
            updateTimeFormat();
            redraw();
        } else {
            lines_->setGeometry(plot);
        }
    });

    lines_ = new ChartLines([this](QPainter* painter) { paintLines(painter); }, chart_);
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
        "another: a CSV file, or a log image that meterlink-cli download --image kept.</p>"));

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

void ChartTab::showDownload(const GridModel& grid, qint32 lastGridRow, const ChannelFlags& inUse,
                            const QString& mark) {
    ChartData data = seriesFromGrid(grid, lastGridRow, inUse);
    QString source =
        QStringLiteral("Download of %1")
            .arg(QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat));
    if (!mark.isEmpty())
        source += QStringLiteral(" (%1)").arg(mark);
    // A chart of rows that are not the whole log, or not in the file, stands out.
    QPalette palette = source_->palette();
    palette.setColor(QPalette::WindowText, mark.isEmpty()
                                               ? this->palette().color(QPalette::WindowText)
                                               : QColor(0xa0, 0x10, 0x10));
    source_->setPalette(palette);
    setNote(data.note());
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
        [path, locale, cancel = cancel_] { return readChartFile(path, locale, cancel.get()); }));
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
        setNote(result.data.note());
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
    if (path.isEmpty())
        return;
    const QScreen* shownOn = screen();
    const QSize screenSize =
        shownOn ? shownOn->size() * shownOn->devicePixelRatio() : QSize(1920, 1080);
    const QSize size = chooseSize_(this, view_->size(), screenSize);
    if (size.isValid())
        saveImage(path, size);
}

bool ChartTab::saveImage(const QString& path, QSize size) {
    const QString shown = QDir::toNativeSeparators(path);
    if (!size.isValid())
        size = view_->size();
    if (size.width() > maxImageSide || size.height() > maxImageSide || size.isEmpty()) {
        setNote(QStringLiteral("Cannot write %1: an image of %2 × %3 pixels is too large")
                    .arg(shown)
                    .arg(size.width())
                    .arg(size.height()));
        return false;
    }
    // Laid out and thinned out for the image's own width, then put back: a picture for a
    // report is drawn at its size, never the screen's picture scaled up.
    const QRectF onScreen = chart_->geometry();
    const auto layOut = [this](const QRectF& geometry) {
        chart_->setGeometry(geometry);
        if (chart_->layout())
            chart_->layout()->activate();
        redraw();
    };
    const QRectF source(onScreen.topLeft(), QSizeF(size));
    const QString why = writeImageFile(path, size, source_->text(), [&](QPainter& painter) {
        layOut(source);
        painter.fillRect(QRectF(QPointF(0, 0), QSizeF(size)), palette().color(QPalette::Base));
        chart_->scene()->render(&painter, QRectF(QPointF(0, 0), QSizeF(size)), source);
    });
    layOut(onScreen);
    if (!why.isEmpty()) {
        setNote(QStringLiteral("Cannot write %1: %2").arg(shown, why));
        return false;
    }
    setNote(QStringLiteral("Chart saved to %1 (%2 × %3 pixels)")
                .arg(shown)
                .arg(size.width())
                .arg(size.height()));
    return true;
}

void ChartTab::setNote(const QString& text) {
    note_->setText(text);
}

void ChartTab::clearChart() {
    for (ChannelView& view : views_) {
        chart_->removeSeries(view.series);
        delete view.series;
        chart_->removeAxis(view.axis);
        delete view.axis;
    }
    views_.clear();
    lines_->update();
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
        // The series holds no points: it gives the channel its colour, its legend entry and
        // the span its axes zoom over; the lines item draws the readings.
        view.series = new QLineSeries;
        view.series->setName(data_.channels[c].name);
        chart_->addSeries(view.series);
        view.series->attachAxis(timeAxis_);
        view.series->attachAxis(view.axis);
        view.color = view.series->pen().color();
        view.axis->setLinePenColor(view.color);
        view.axis->setLabelsColor(view.color);
        connect(view.axis, &QValueAxis::rangeChanged, this, [this] { lines_->update(); });
        QLegendMarker* marker = chart_->legend()->markers(view.series).value(0);
        connect(marker, &QLegendMarker::clicked, this,
                [this, c] { setChannelHidden(c, !views_[c].hidden); });
    }
    source_->setText(QStringLiteral("%1: %2 rows, %3 readings, %4 channels")
                         .arg(source)
                         .arg(data_.rows)
                         .arg(points)
                         .arg(data_.channels.size()));
    showOneGrid();
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
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(qint64(std::floor(from))),
                        QDateTime::fromMSecsSinceEpoch(qint64(std::ceil(to))));
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
    if (views_.empty())
        return;
    const auto [from, to] = timeRange();
    const QRectF plot = chart_->plotArea();
    // Where there are more points than pixels, each pixel column keeps its lowest and highest
    // point, which a one-pixel line shows whole.
    const int columns = std::max(int(plot.width()), 1);
    drawnColumns_ = int(plot.width());
    for (std::size_t c = 0; c < views_.size(); ++c) {
        ChannelView& view = views_[c];
        const ChannelSeries& channel = data_.channels[c];
        view.runs.clear();
        for (std::size_t s = 0; s < channel.segmentStarts.size() && !channel.times.empty(); ++s) {
            const std::size_t first = channel.segmentStarts[s];
            const std::size_t end = channel.segmentEnd(s);
            if (channel.times[end - 1] < from || channel.times[first] > to)
                continue;
            view.runs.push_back(decimateMinMax(channel.times.data() + first,
                                               channel.values.data() + first, end - first, from, to,
                                               columns));
        }
    }
    lines_->setGeometry(plot);
}

void ChartTab::paintLines(QPainter* painter) const {
    if (views_.empty())
        return;
    const QRectF plot = chart_->plotArea();
    const auto [from, to] = timeRange();
    if (to <= from || plot.isEmpty())
        return;
    painter->setClipRect(plot);
    painter->setRenderHint(QPainter::Antialiasing, false);
    const double xScale = plot.width() / (to - from);
    QPolygonF line;
    for (const ChannelView& view : views_) {
        const double low = view.axis->min();
        const double high = view.axis->max();
        if (view.hidden || high <= low)
            continue;
        const double yScale = plot.height() / (high - low);
        painter->setPen(QPen(view.color, 1));
        for (const std::vector<QPointF>& run : view.runs) {
            line.resize(qsizetype(run.size()));
            for (std::size_t i = 0; i < run.size(); ++i) {
                line[qsizetype(i)] = QPointF(plot.left() + (run[i].x() - from) * xScale,
                                             plot.bottom() - (run[i].y() - low) * yScale);
            }
            painter->drawPolyline(line);
        }
    }
}

void ChartTab::setChannelHidden(std::size_t index, bool hidden) {
    ChannelView& view = views_[index];
    view.hidden = hidden;
    view.axis->setVisible(!hidden);
    QLegendMarker* marker = chart_->legend()->markers(view.series).value(0);
    QColor label = chart_->legend()->labelColor();
    label.setAlphaF(hidden ? 0.4 : 1.0);
    marker->setLabelBrush(label);
    showOneGrid();
    lines_->update();
}

void ChartTab::showOneGrid() {
    // One set of value grid lines is enough to read by; eight on top of each other are noise
    // and a repaint's worth of time.
    bool shown = false;
    for (ChannelView& view : views_) {
        view.axis->setGridLineVisible(!shown && !view.hidden);
        shown = shown || !view.hidden;
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
        if (view.hidden || channel.times.empty())
            continue;
        QLineSeries* series = view.series;
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
        for (const std::vector<QPointF>& run : view.runs)
            points += run.size();
    }
    return points;
}

} // namespace meterlink
