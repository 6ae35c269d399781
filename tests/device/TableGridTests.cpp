#include "device/TableGrid.h"
#include "device/TableGridView.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

TEST(TableGrid, CellsOutsideTheGridReadEmptyAndIgnoreWrites)
{
    TableGrid grid;
    int changes = 0;
    const TableGrid::Watch watch(grid, [&](int, int, int, int) { ++changes; });
    for (auto [c, r] : { std::pair{ -1, 0 }, { 0, -1 }, { 27, 0 }, { 0, 129 }, { 27, 129 }, { -100000, 100000 } }) {
        grid.setCell(c, r, QStringLiteral("x"));
        EXPECT_TRUE(grid.cell(c, r).isEmpty()) << c << "," << r;
    }
    EXPECT_EQ(changes, 0);

    // The corners inside are real cells and keep apart.
    grid.setCell(0, 0, 'a');
    grid.setCell(26, 0, 'b');
    grid.setCell(0, 128, 'c');
    grid.setCell(26, 128, 'd');
    EXPECT_EQ(grid.cell(0, 0), QStringLiteral("a"));
    EXPECT_EQ(grid.cell(26, 0), QStringLiteral("b"));
    EXPECT_EQ(grid.cell(0, 128), QStringLiteral("c"));
    EXPECT_EQ(grid.cell(26, 128), QStringLiteral("d"));
    EXPECT_EQ(changes, 4);
}

TEST(TableGrid, EveryByteIsOneCharacter)
{
    TableGrid grid;
    for (int b = 0; b < 256; ++b) {
        grid.setCell(1, 2, static_cast<char>(b));
        ASSERT_EQ(grid.cell(1, 2).size(), 1);
        EXPECT_EQ(grid.cell(1, 2).at(0).unicode(), b);
    }
    // Shown, the row 0x80..0x9F reads in the cards' code page; the cell keeps its byte.
    grid.setCell(1, 2, static_cast<char>(0x80));
    EXPECT_EQ(TableGridModel::displayText(grid.cell(1, 2)), QStringLiteral("€"));
    EXPECT_EQ(TableGridModel::displayText(QString(QChar(0x9F))), QStringLiteral("Ÿ"));
    EXPECT_EQ(TableGridModel::displayText(QString(QChar(0xE0))), QStringLiteral("à"));
    EXPECT_EQ(grid.cell(1, 2).at(0).unicode(), 0x80);
}

TEST(TableGrid, DataOperationsCoverRowsOneToLastAndColumnsOneToLast)
{
    TableGrid grid;
    std::vector<std::tuple<int, int, int, int>> changes;
    const TableGrid::Watch watch(grid, [&](int c0, int r0, int c1, int r1) { changes.emplace_back(c0, r0, c1, r1); });
    grid.setCell(0, 5, QStringLiteral("5"));
    grid.setCell(3, 0, QStringLiteral("E"));
    changes.clear();

    grid.fillData(QStringLiteral("-"));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], std::make_tuple(1, 1, 26, 128));
    EXPECT_EQ(grid.cell(1, 1), QStringLiteral("-"));
    EXPECT_EQ(grid.cell(26, 128), QStringLiteral("-"));
    EXPECT_EQ(grid.cell(0, 5), QStringLiteral("5")); // fixed cells are not data
    EXPECT_EQ(grid.cell(3, 0), QStringLiteral("E"));

    TableGrid other;
    other.fillData(QStringLiteral("-"));
    EXPECT_TRUE(grid.dataEquals(other)); // fixed cells do not count
    other.setCell(26, 128, '#');
    EXPECT_FALSE(grid.dataEquals(other));
    grid.copyDataFrom(other);
    EXPECT_TRUE(grid.dataEquals(other));
    EXPECT_EQ(grid.cell(0, 5), QStringLiteral("5"));

    // Writing the text a cell already holds is no change.
    changes.clear();
    grid.setCell(26, 128, '#');
    EXPECT_TRUE(changes.empty());
}

// A copy is a new table: it carries no view of the grid it was copied from.
// Copies are taken freely (a dry run of a write works on one), so a copy
// that kept the original's view would repaint it, and would reach a freed
// model once that view is gone.
TEST(TableGrid, ACopyLeavesTheViewBehind)
{
    TableGrid grid;
    auto model = std::make_unique<TableGridModel>(grid);
    QSignalSpy repaints(model.get(), &QAbstractItemModel::dataChanged);

    TableGrid copy = grid;
    TableGrid assigned;
    assigned = grid;
    copy.setCell(4, 7, '9');
    assigned.fillData(QStringLiteral("*"));
    EXPECT_EQ(repaints.count(), 0);
    EXPECT_EQ(model->data(model->index(6, 3)).toString(), QString());

    model.reset();
    copy.setCell(5, 7, '8');
    assigned.setCell(5, 7, '8');
    copy.copyDataFrom(assigned);
    EXPECT_EQ(copy.cell(5, 7), QStringLiteral("8"));
}

// A window keeps its grid as a member, and its members go before its child
// widgets: the view must survive its grid. Two views of one grid each hear
// every change, and either can go first.
TEST(TableGrid, ViewsAndTheirGridMayGoInEitherOrder)
{
    auto grid = std::make_unique<TableGrid>();
    grid->setCell(3, 0, 'E');
    TableGridModel first(*grid);
    auto second = std::make_unique<TableGridModel>(*grid);
    QSignalSpy firstRepaints(&first, &QAbstractItemModel::dataChanged);
    QSignalSpy secondRepaints(second.get(), &QAbstractItemModel::dataChanged);

    grid->setCell(2, 3, '7');
    EXPECT_EQ(firstRepaints.count(), 1);
    EXPECT_EQ(secondRepaints.count(), 1);
    EXPECT_EQ(second->data(second->index(2, 1)).toString(), QStringLiteral("7"));

    second.reset();
    TableGrid other;
    other.setCell(2, 3, '5');
    *grid = other; // assigning is a change of every cell, fixed ones included
    EXPECT_EQ(firstRepaints.count(), 2);
    EXPECT_EQ(first.data(first.index(2, 1)).toString(), QStringLiteral("5"));
    EXPECT_EQ(first.headerData(2, Qt::Horizontal).toString(), QString());

    grid.reset();
    EXPECT_FALSE(first.data(first.index(2, 1)).isValid());
    EXPECT_FALSE(first.headerData(2, Qt::Horizontal).isValid());
}
