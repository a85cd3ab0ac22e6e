#include "app/record_grid.h"

#include "app/fixed_cells_proxy.h"
#include "logger/record_decoder.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <QStyleOptionViewItem>

namespace meterlink {

namespace {

constexpr int kTimestampColumn = 1;

} // namespace

RecordGrid::RecordGrid(QAbstractItemModel* cells, const QLocale& locale, QWidget* parent)
    : QTableView(parent), proxy_(new FixedCellsProxy(HeadingRow, this)), locale_(locale) {
    proxy_->setSourceModel(cells);
    setModel(proxy_);
    // A reset of the grid model (its Clear, say) forgets hidden sections.
    connect(proxy_, &QAbstractItemModel::modelReset, this, [this] {
        hideFixedCells();
        showTopLeft();
    });
    hideFixedCells();
    // The grid changes whole when a download clears it and when the download ends: the
    // records are then shown from the first one.
    connect(proxy_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                if (topLeft.row() == 0 && bottomRight.row() == model()->rowCount() - 1)
                    showTopLeft();
            });

    verticalHeader()->setMinimumSectionSize(0);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    // A drag on a heading's edge widens its column; a double-click fits it (QTableView's own).
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

    // The corner, over the row headings, shows the row headings' own heading.
    corner_ = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
    if (corner_) {
        corner_->installEventFilter(this);
        connect(proxy_, &QAbstractItemModel::headerDataChanged, corner_,
                qOverload<>(&QWidget::update));
        connect(proxy_, &QAbstractItemModel::modelReset, corner_, qOverload<>(&QWidget::update));
    }
}

RecordGrid::~RecordGrid() {
    // The view lets go of the proxy before a grid model handed in goes away.
    setModel(nullptr);
    proxy_->setSourceModel(nullptr);
}

void RecordGrid::hideFixedCells() {
    for (int row = 0; row <= HeadingRow; ++row)
        setRowHidden(row, true);
    setColumnHidden(0, true);
}

void RecordGrid::showTopLeft() {
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
    horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
}

int RecordGrid::widestTimestampWidth() const {
    const QString dateFormat = dateFormatWithFullYear(locale_);
    const QString timeFormat = timeFormatWithSeconds(locale_);
    const QFontMetrics metrics = fontMetrics();
    QString widest;
    // Every day of a year (month and weekday names differ in width), in the morning and
    // the evening (the day's halves have names of their own in some locales).
    const QDate first(RecordDecoder::logYear, 1, 1);
    for (QDate date = first; date.year() == first.year(); date = date.addDays(1)) {
        for (const QTime& time : {QTime(10, 58, 58), QTime(23, 58, 58)}) {
            const QString text = locale_.toString(date, dateFormat) + QLatin1Char(' ') +
                                 locale_.toString(time, timeFormat);
            if (metrics.horizontalAdvance(text) > metrics.horizontalAdvance(widest))
                widest = text;
        }
    }
    // What a cell needs for it, as the cell's delegate measures it, and the grid line.
    QStyleOptionViewItem cell;
    cell.initFrom(viewport());
    cell.widget = this;
    cell.font = font();
    cell.text = widest;
    cell.features = QStyleOptionViewItem::HasDisplay;
    cell.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    const QSize needed = style()->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), this);
    return needed.width() + (showGrid() ? 1 : 0);
}

void RecordGrid::setGridColumnWidth(int column, int pixels) {
    if (column == 0) {
        verticalHeader()->setFixedWidth(pixels);
        return;
    }
    // Headings are written before the widths are set: a long channel name widens its column.
    pixels = qMax(pixels, horizontalHeader()->sectionSizeHint(column));
    if (column == kTimestampColumn)
        pixels = qMax(pixels, widestTimestampWidth());
    setColumnWidth(column, pixels);
}

int RecordGrid::gridColumnWidth(int column) const {
    return column == 0 ? verticalHeader()->width() : columnWidth(column);
}

void RecordGrid::growWithWindow() {
    leastSize_ = size();
    parentWidget()->installEventFilter(this);
}

QString RecordGrid::cornerText() const {
    return model() ? model()->headerData(HeadingRow, Qt::Vertical).toString() : QString();
}

bool RecordGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize && leastSize_.isValid()) {
        // The tab is laid out when it is shown, so it follows the window, not the events.
        const QSize grown = window()->size() - window()->minimumSize();
        resize(leastSize_.width() + qMax(0, grown.width()),
               leastSize_.height() + qMax(0, grown.height()));
    } else if (watched == corner_ && event->type() == QEvent::Paint) {
        paintCorner();
        return true;
    }
    return QTableView::eventFilter(watched, event);
}

void RecordGrid::paintCorner() {
    QStyleOptionHeader option;
    option.initFrom(corner_);
    option.rect = corner_->rect();
    option.position = QStyleOptionHeader::OnlyOneSection;
    option.orientation = Qt::Horizontal;
    option.text = cornerText();
    option.textAlignment = Qt::AlignCenter;
    QPainter painter(corner_);
    if (model()) {
        const QVariant font = model()->headerData(HeadingRow, Qt::Vertical, Qt::FontRole);
        if (font.canConvert<QFont>())
            painter.setFont(font.value<QFont>());
    }
    style()->drawControl(QStyle::CE_Header, &option, &painter, corner_);
}

} // namespace meterlink
