#pragma once

#include <QIdentityProxyModel>

namespace meterlink {

// Shows a grid model whose row 0 and column 0 are fixed heading cells through the view's
// own headers: the horizontal header shows row 0, the vertical header column 0, and the
// view hides that row and column. So the headings stay in place while the cells scroll,
// and the grid model stays a plain table of cells.
class FixedCellsProxy : public QIdentityProxyModel {
    Q_OBJECT
public:
    explicit FixedCellsProxy(QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* source) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void forwardHeadingChanges(const QModelIndex& topLeft, const QModelIndex& bottomRight);
};

} // namespace meterlink
