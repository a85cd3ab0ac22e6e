#pragma once

#include <QChartView>
#include <QGraphicsItem>
#include <QPointF>

#include <functional>

namespace meterlink {

class ChartTab;

// The Chart tab's view with the looking-closer gestures: a dragged rectangle zooms (the
// view's own), the wheel zooms the time around the pointer, the right or middle button
// drags the picture, the arrow keys move it, and the reading under the pointer shows as a
// tooltip. The tab does the moving; the view only turns gestures into its calls.
class ChartView : public QChartView {
public:
    ChartView(QChart* chart, ChartTab* tab);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    ChartTab* tab_;
    bool panning_ = false;
    QPointF last_;
};

// Draws every channel's runs over the plot area. Qt's own line series outline every point
// of a line for hovering at each change of span, which made a zoom step of a full log miss
// a frame at 30 Hz; this item only paints, with what it is given.
class ChartLines : public QGraphicsItem {
public:
    using Painter = std::function<void(QPainter*)>;
    ChartLines(Painter paint, QGraphicsItem* parent);

    void setGeometry(const QRectF& plot);
    QRectF boundingRect() const override { return rect_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

private:
    Painter paint_;
    QRectF rect_;
};

} // namespace meterlink
