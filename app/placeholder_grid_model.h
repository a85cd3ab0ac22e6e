#pragma once

#include <QAbstractTableModel>

namespace meterlink {

// An empty grid of the download's dimensions, shown until the real grid model is handed in.
class PlaceholderGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    static constexpr int kRows = 16384;
    static constexpr int kColumns = 10;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
};

} // namespace meterlink
