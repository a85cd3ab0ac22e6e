#pragma once

#include <QLocale>
#include <QTableView>

class QAbstractButton;

namespace meterlink {

class FixedCellsProxy;

// The View tab's grid over the grid model's cells. The fixed column 0 becomes the row
// headings; the heading row 1 (the channel names) becomes the column headings, with its
// "Record #" in the corner, so the headings stay in view while the records scroll and
// appear once. It grows with the window.
class RecordGrid : public QTableView {
    Q_OBJECT
public:
    static constexpr int HeadingRow = 1;

    RecordGrid(QAbstractItemModel* cells, const QLocale& locale, QWidget* parent);
    ~RecordGrid() override;

    // Column 0 is the row headings' width. A column is never narrower than its heading,
    // and the timestamps' column never narrower than the locale's longest timestamp.
    void setGridColumnWidth(int column, int pixels);
    int gridColumnWidth(int column) const;
    // What the widest date and time of the locale needs, with the cell's margins.
    int widestTimestampWidth() const;

    // From now on the grid keeps its present size at the window's least size, and takes
    // whatever the window grows by beyond it.
    void growWithWindow();
    // Back to the first record and the first column.
    void showTopLeft();

    QString cornerText() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void hideFixedCells();
    void paintCorner();

    FixedCellsProxy* proxy_;
    QLocale locale_;
    QAbstractButton* corner_ = nullptr;
    QSize leastSize_;
};

} // namespace meterlink
