#include "logger/grid_model.h"

#include <QFont>

namespace meterlink {

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent), rows_(initialRows) {}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Rows();
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return TextMatrix(index.row(), index.column());
    case Qt::FontRole: {
        const Cell* c = cell(index.row(), index.column());
        if (c == nullptr || (!c->bold && !c->underline))
            return {};
        QFont font;
        font.setBold(c->bold);
        font.setUnderline(c->underline);
        return font;
    }
    case FixedRole:
        return isFixed(index.row(), index.column());
    default:
        return {};
    }
}

void GridModel::Clear() {
    for (Row& row : rows_)
        Row().swap(row);
    if (redraw_ && !rows_.empty())
        emit dataChanged(index(0, 0), index(Rows() - 1, columns - 1));
}

const GridModel::Cell* GridModel::cell(int row, int column) const {
    if (row < 0 || row >= Rows() || column < 0 || column >= columns)
        return nullptr;
    const Row& cells = rows_[size_t(row)];
    return cells.empty() ? nullptr : &cells[size_t(column)];
}

GridModel::Cell* GridModel::writableCell(int row, int column) {
    if (row < 0 || column < 0 || column >= columns)
        return nullptr;
    if (row >= Rows()) {
        // Whole chunks, so a long log costs a handful of insertions, not one per record.
        const int newRows = (row / growthRows + 1) * growthRows;
        beginInsertRows(QModelIndex(), Rows(), newRows - 1);
        rows_.resize(size_t(newRows));
        endInsertRows();
    }
    Row& cells = rows_[size_t(row)];
    if (cells.empty())
        cells.resize(columns);
    return &cells[size_t(column)];
}

void GridModel::cellChanged(int row, int column) {
    if (redraw_) {
        const QModelIndex changed = index(row, column);
        emit dataChanged(changed, changed);
    }
}

QString GridModel::TextMatrix(int row, int column) const {
    const Cell* c = cell(row, column);
    return c == nullptr ? QString() : c->text;
}

bool GridModel::setTextMatrix(int row, int column, const QString& text) {
    Cell* c = writableCell(row, column);
    if (c == nullptr)
        return false;
    c->text = text;
    cellChanged(row, column);
    return true;
}

bool GridModel::CellFontBold(int row, int column) const {
    const Cell* c = cell(row, column);
    return c != nullptr && c->bold;
}

bool GridModel::CellFontUnderline(int row, int column) const {
    const Cell* c = cell(row, column);
    return c != nullptr && c->underline;
}

void GridModel::setCellFontBold(int row, int column, bool on) {
    if (Cell* c = writableCell(row, column)) {
        c->bold = on;
        cellChanged(row, column);
    }
}

void GridModel::setCellFontUnderline(int row, int column, bool on) {
    if (Cell* c = writableCell(row, column)) {
        c->underline = on;
        cellChanged(row, column);
    }
}

int GridModel::ColWidth(int column) const {
    return column >= 0 && column < columns ? widths_[size_t(column)] : 0;
}

void GridModel::setColWidth(int column, int twips) {
    if (column < 0 || column >= columns)
        return;
    widths_[size_t(column)] = twips;
    emit columnWidthChanged(column, twips);
}

void GridModel::setRedraw(bool on) {
    const bool wasOff = !redraw_;
    redraw_ = on;
    if (on && wasOff && !rows_.empty())
        emit dataChanged(index(0, 0), index(Rows() - 1, columns - 1));
}

} // namespace meterlink
