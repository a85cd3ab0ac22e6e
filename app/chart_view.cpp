#include "app/chart_view.h"

#include "app/chart_tab.h"

#include <QChart>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <QWheelEvent>

#include <cmath>

namespace meterlink {

namespace {

constexpr double wheelZoomStep = 0.8; // the span shown after one wheel notch in
constexpr int panStepPixels = 40;

} // namespace

ChartView::ChartView(QChart* chart, ChartTab* tab) : QChartView(chart), tab_(tab) {
    setRubberBand(QChartView::RectangleRubberBand);
    setRenderHint(QPainter::Antialiasing, false);
    setFocusPolicy(Qt::StrongFocus);
}

void ChartView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0 || chart()->series().isEmpty()) {
        event->ignore();
        return;
    }
    tab_->zoomTimeAt(std::pow(wheelZoomStep, notches), event->position().x());
    event->accept();
}

void ChartView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        panning_ = true;
        last_ = event->position();
        setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void ChartView::mouseMoveEvent(QMouseEvent* event) {
    if (panning_) {
        const QPointF delta = event->position() - last_;
        last_ = event->position();
        tab_->panBy(-delta.x(), delta.y());
        event->accept();
        return;
    }
    if (event->buttons() == Qt::NoButton) {
        // The tab paints the lines itself, so the reading under the pointer is looked up
        // in the data.
        const QString text = tab_->pointNear(mapToScene(event->position().toPoint()));
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPosition().toPoint(), text, this);
    }
    QChartView::mouseMoveEvent(event);
}

void ChartView::mouseReleaseEvent(QMouseEvent* event) {
    if (panning_ && (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton)) {
        panning_ = false;
        unsetCursor();
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void ChartView::keyPressEvent(QKeyEvent* event) {
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

ChartLines::ChartLines(Painter paint, QGraphicsItem* parent)
    : QGraphicsItem(parent), paint_(std::move(paint)) {
    setZValue(1000); // above the grid, as the chart's own lines stand
    setAcceptedMouseButtons(Qt::NoButton);
}

void ChartLines::setGeometry(const QRectF& plot) {
    if (plot != rect_) {
        prepareGeometryChange();
        rect_ = plot;
    }
    update();
}

void ChartLines::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    paint_(painter);
}

} // namespace meterlink
