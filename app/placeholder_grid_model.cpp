#include "app/placeholder_grid_model.h"

namespace meterlink {

int PlaceholderGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kRows;
}

int PlaceholderGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant PlaceholderGridModel::data(const QModelIndex&, int) const {
    return {};
}

} // namespace meterlink
