#pragma once

#include "chart/chart_data.h"
#include "chart/csv_series.h"
#include "logger/channel_flags.h"

#include <QColor>
#include <QFutureWatcher>
#include <QPointF>
#include <QSize>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QPainter;
class QLineSeries;
class QPushButton;
class QStackedWidget;
class QValueAxis;

namespace meterlink {

class ChartLines;
class GridModel;

// The Chart tab: every channel of the last download, or of a CSV file opened here, against
// time. Each channel has a value axis of its own in its colour, so a flow in thousands and
// a pressure in single units both fill the plot and are read off in their own units.
class ChartTab : public QWidget {
    Q_OBJECT
public:
    // A file to open or to save to; empty when the user cancelled.
    using FileChooser = std::function<QString(QWidget* parent)>;
    // The image's size in pixels, offered the chart's size on screen and the screen's;
    // an invalid size when the user cancelled.
    using SizeChooser = std::function<QSize(QWidget* parent, QSize shown, QSize screen)>;

    explicit ChartTab(QWidget* parent = nullptr);
    ~ChartTab() override;

    void setOpenFileChooser(FileChooser chooser) { chooseOpen_ = std::move(chooser); }
    void setSaveFileChooser(FileChooser chooser) { chooseSave_ = std::move(chooser); }
    void setImageSizeChooser(SizeChooser chooser) { chooseSize_ = std::move(chooser); }

    // The records the download left in the grid (rows 2..lastGridRow); `mark` says, in
    // the chart's heading, that they are not the whole log or not saved.
    void showDownload(const GridModel& grid, qint32 lastGridRow, const ChannelFlags& inUse,
                      const QString& mark = QString());
    // Reads the file in the background; fileRead() follows.
    void openCsv(const QString& path);
    bool reading() const;
    // PNG, or SVG when the name ends in .svg, laid out and drawn at `size` in pixels (the
    // chart's size on screen when invalid); false with the reason in the note.
    bool saveImage(const QString& path, QSize size = QSize());

    const ChartData& data() const { return data_; }
    QChart* chart() const { return chart_; }
    // The time span shown, in ms since the epoch.
    std::pair<double, double> timeRange() const;
    void setTimeRange(double from, double to);
    void resetZoom();
    // The wheel: the time span shown times `factor`, the moment under x (in the view's
    // pixels) staying put.
    void zoomTimeAt(double factor, double x);
    // Moves the picture by pixels, as a drag does.
    void panBy(double dx, double dy);
    // Channel, time and value of the reading drawn nearest a point of the chart's scene; empty
    // when none is within a few pixels.
    QString pointNear(const QPointF& scenePoint) const;
    // Points drawn now (after decimation), over all channels.
    std::size_t drawnPoints() const;

signals:
    void fileRead();

private:
    struct ChannelView {
        QValueAxis* axis = nullptr;
        QLineSeries* series = nullptr; // no points: the legend entry and the axes' span
        QColor color;
        std::vector<std::vector<QPointF>> runs; // the unbroken runs in view, decimated
        bool hidden = false;
    };

    void display(ChartData data, const QString& source);
    void clearChart();
    void redraw();
    void paintLines(QPainter* painter) const;
    void setChannelHidden(std::size_t index, bool hidden);
    void showOneGrid();
    void updateTimeFormat();
    void chooseAndOpen();
    void chooseAndSave();
    void fileReadDone();
    void setNote(const QString& text);

    ChartData data_;
    std::vector<ChannelView> views_;
    double fullFrom_ = 0;
    double fullTo_ = 0;
    int drawnColumns_ = -1;

    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    QDateTimeAxis* timeAxis_ = nullptr;
    ChartLines* lines_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QLabel* empty_ = nullptr;
    QLabel* source_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* open_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* reset_ = nullptr;

    FileChooser chooseOpen_;
    FileChooser chooseSave_;
    SizeChooser chooseSize_;
    QString readingPath_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    QFutureWatcher<CsvSeries>* watcher_ = nullptr;
};

} // namespace meterlink
