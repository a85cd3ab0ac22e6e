#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <vector>

namespace meterlink {

// The cells of the download grid: 10 columns, 16384 rows to start with, row 0 and column 0
// fixed. Rows hold no strings until a cell of theirs is written, so an empty grid is cheap.
class GridModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int initialRows = 16384;
    static constexpr int columns = 10;
    static constexpr int growthRows = 4096;
    // True for the fixed row and column; the view styles them and hides its own headers.
    static constexpr int FixedRole = Qt::UserRole + 1;

    explicit GridModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    int Rows() const { return int(rows_.size()); }
    int Cols() const { return columns; }
    static bool isFixed(int row, int column) { return row == 0 || column == 0; }

    // Empties every cell (texts and fonts); the dimensions stay.
    void Clear();

    QString TextMatrix(int row, int column) const;
    // A row beyond the last one grows the grid; a negative row or a column outside 0..9 is
    // not written and gives false.
    bool setTextMatrix(int row, int column, const QString& text);

    bool CellFontBold(int row, int column) const;
    bool CellFontUnderline(int row, int column) const;
    void setCellFontBold(int row, int column, bool on);
    void setCellFontUnderline(int row, int column, bool on);

    // Widths in twips (a pixel at 96 DPI is 15 twips); 0 before anyone set one.
    int ColWidth(int column) const;
    void setColWidth(int column, int twips);

    bool Redraw() const { return redraw_; }
    // Off: cells change silently. On again: one update for the whole grid.
    void setRedraw(bool on);

signals:
    void columnWidthChanged(int column, int twips);

private:
    struct Cell {
        QString text;
        bool bold = false;
        bool underline = false;
    };
    using Row = std::vector<Cell>;

    const Cell* cell(int row, int column) const;
    Cell* writableCell(int row, int column);
    void cellChanged(int row, int column);

    std::vector<Row> rows_;
    std::array<int, columns> widths_{};
    bool redraw_ = true;
};

} // namespace meterlink
