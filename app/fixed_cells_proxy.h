#pragma once

#include <QIdentityProxyModel>

namespace meterlink {

// Shows a grid model whose column 0 holds fixed heading cells, and one of whose rows holds
// the column headings, through the view's own headers: the horizontal header shows that
// heading row, the vertical header column 0, and the view hides them (and the rows above
// the heading row). So the headings stay in place while the cells scroll, and the grid
// model stays a plain table of cells.
class FixedCellsProxy : public QIdentityProxyModel {
    Q_OBJECT
public:
    explicit FixedCellsProxy(int headingRow, QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* source) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void forwardHeadingChanges(const QModelIndex& topLeft, const QModelIndex& bottomRight);

    int headingRow_;
};

} // namespace meterlink
