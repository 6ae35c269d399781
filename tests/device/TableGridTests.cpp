#include "device/TableGrid.h"

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
