#include "logger/grid_model.h"

#include <QFont>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace meterlink {
namespace {

TEST(GridModel, ClearEmptiesTextsAndFontsButKeepsDimensions) {
    GridModel grid;
    grid.setTextMatrix(1, 1, "Date / Time");
    grid.setCellFontBold(1, 1, true);
    grid.setCellFontUnderline(1, 1, true);
    grid.setTextMatrix(GridModel::initialRows + 5, 2, " 1");
    const int rows = grid.rowCount();
    grid.setColWidth(1, 1800);

    grid.Clear();
    EXPECT_EQ(grid.rowCount(), rows);
    EXPECT_EQ(grid.TextMatrix(1, 1), "");
    EXPECT_EQ(grid.TextMatrix(GridModel::initialRows + 5, 2), "");
    EXPECT_FALSE(grid.CellFontBold(1, 1));
    EXPECT_FALSE(grid.CellFontUnderline(1, 1));
    EXPECT_EQ(grid.ColWidth(1), 1800);
}

TEST(GridModel, GrowsInChunksWhenARowBeyondTheLastIsWritten) {
    GridModel grid;
    QSignalSpy inserted(&grid, &QAbstractItemModel::rowsInserted);
    for (int row = GridModel::initialRows; row < GridModel::initialRows + 100; ++row)
        ASSERT_TRUE(grid.setTextMatrix(row, 0, QString::number(row)));
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(grid.rowCount(), GridModel::initialRows + GridModel::growthRows);
    EXPECT_EQ(grid.TextMatrix(GridModel::initialRows + 99, 0),
              QString::number(GridModel::initialRows + 99));
}

TEST(GridModel, RedrawOffHoldsCellUpdatesUntilOneBatchedUpdate) {
    GridModel grid;
    QSignalSpy changed(&grid, &QAbstractItemModel::dataChanged);
    grid.setTextMatrix(2, 2, "a");
    EXPECT_EQ(changed.count(), 1);

    grid.setRedraw(false);
    for (int row = 2; row < 1000; ++row)
        grid.setTextMatrix(row, 1, "b");
    EXPECT_EQ(changed.count(), 1);
    grid.setRedraw(false);
    EXPECT_EQ(changed.count(), 1);

    grid.setRedraw(true);
    ASSERT_EQ(changed.count(), 2);
    const auto topLeft = changed.at(1).at(0).value<QModelIndex>();
    const auto bottomRight = changed.at(1).at(1).value<QModelIndex>();
    EXPECT_EQ(topLeft, grid.index(0, 0));
    EXPECT_EQ(bottomRight, grid.index(grid.rowCount() - 1, 9));

    grid.setRedraw(true);
    EXPECT_EQ(changed.count(), 2);
}

TEST(GridModel, ShowsTextFontAndFixedCellsThroughRoles) {
    GridModel grid;
    grid.setTextMatrix(1, 2, "Flow");
    grid.setCellFontBold(1, 2, true);
    grid.setCellFontUnderline(1, 2, true);
    grid.setTextMatrix(2, 2, " 1");

    EXPECT_EQ(grid.data(grid.index(1, 2)).toString(), "Flow");
    const QFont font = grid.data(grid.index(1, 2), Qt::FontRole).value<QFont>();
    EXPECT_TRUE(font.bold());
    EXPECT_TRUE(font.underline());
    EXPECT_FALSE(grid.data(grid.index(2, 2), Qt::FontRole).isValid());

    EXPECT_TRUE(grid.data(grid.index(0, 5), GridModel::FixedRole).toBool());
    EXPECT_TRUE(grid.data(grid.index(7, 0), GridModel::FixedRole).toBool());
    EXPECT_FALSE(grid.data(grid.index(1, 1), GridModel::FixedRole).toBool());
}

TEST(GridModel, AnnouncesColumnWidthsInTwips) {
    GridModel grid;
    QSignalSpy widths(&grid, &GridModel::columnWidthChanged);
    grid.setColWidth(2, 2000);
    grid.setColWidth(10, 2000);
    ASSERT_EQ(widths.count(), 1);
    EXPECT_EQ(widths.at(0).at(0).toInt(), 2);
    EXPECT_EQ(widths.at(0).at(1).toInt(), 2000);
    EXPECT_EQ(grid.ColWidth(2), 2000);
    EXPECT_EQ(grid.ColWidth(10), 0);
}

} // namespace
} // namespace meterlink
