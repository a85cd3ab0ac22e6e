#include "app/fixed_cells_proxy.h"

namespace meterlink {

FixedCellsProxy::FixedCellsProxy(int headingRow, QObject* parent)
    : QIdentityProxyModel(parent), headingRow_(headingRow) {}

void FixedCellsProxy::setSourceModel(QAbstractItemModel* source) {
    if (sourceModel()) {
        disconnect(sourceModel(), &QAbstractItemModel::dataChanged, this,
                   &FixedCellsProxy::forwardHeadingChanges);
    }
    QIdentityProxyModel::setSourceModel(source);
    if (source) {
        connect(source, &QAbstractItemModel::dataChanged, this,
                &FixedCellsProxy::forwardHeadingChanges);
    }
}

QVariant FixedCellsProxy::headerData(int section, Qt::Orientation orientation, int role) const {
    const QAbstractItemModel* source = sourceModel();
    if (!source) {
        return {};
    }
    const QModelIndex cell = orientation == Qt::Horizontal ? source->index(headingRow_, section)
                                                           : source->index(section, 0);
    const QVariant value = cell.data(role);
    if (role == Qt::TextAlignmentRole && !value.isValid()) {
        return int(Qt::AlignCenter);
    }
    return value;
}

void FixedCellsProxy::forwardHeadingChanges(const QModelIndex& topLeft,
                                            const QModelIndex& bottomRight) {
    if (topLeft.row() <= headingRow_ && headingRow_ <= bottomRight.row()) {
        emit headerDataChanged(Qt::Horizontal, topLeft.column(), bottomRight.column());
    }
    if (topLeft.column() == 0) {
        emit headerDataChanged(Qt::Vertical, topLeft.row(), bottomRight.row());
    }
}

} // namespace meterlink
