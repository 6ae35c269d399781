#include "device/TableGrid.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <random>
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

// Rows at a time hold what the same texts set cell by cell hold, whether a
// text is new or shares a cell's characters, and the watches hear of one
// rectangle around the cells that changed, or of nothing.
TEST(TableGrid, RowsAtATimeSetWhatCellByCellSets)
{
    const QString texts[] = { QString(), QStringLiteral("-"), QStringLiteral("1"), QStringLiteral("2"),
                              QStringLiteral("12"), QString::number(12), QStringLiteral("13"), QString(QChar(0)) };
    std::mt19937 random(23);
    TableGrid byRows;
    TableGrid byCells;
    std::vector<std::tuple<int, int, int, int>> changes;
    const TableGrid::Watch watch(byRows, [&](int c0, int r0, int c1, int r1) { changes.emplace_back(c0, r0, c1, r1); });
    for (int round = 0; round < 400; ++round) {
        const int first = int(random() % 130); // the last rows run off the grid
        std::vector<TableGrid::RowTexts> rows(3);
        for (int k = 0; k < 3; ++k)
            for (int c = 1; c <= 26; ++c) {
                const QString& text = texts[random() % std::size(texts)];
                rows[size_t(k)][size_t(c - 1)] = &text;
                byCells.setCell(c, first + k, text);
            }
        byRows.setRows(first, rows.data(), 3);
        for (int r = 0; r < TableGrid::RowCount; ++r)
            for (int c = 0; c < TableGrid::ColumnCount; ++c)
                ASSERT_EQ(byRows.cell(c, r), byCells.cell(c, r)) << round << ": " << c << "," << r;
    }

    changes.clear();
    TableGrid::RowTexts same;
    for (int c = 1; c <= 26; ++c)
        same[size_t(c - 1)] = &byRows.cell(c, 5);
    std::vector<TableGrid::RowTexts> rows{ same, same };
    for (int c = 1; c <= 26; ++c)
        rows[1][size_t(c - 1)] = &byRows.cell(c, 6);
    byRows.setRows(5, rows.data(), 2);
    EXPECT_TRUE(changes.empty());
    // Unlike any text the random rounds set.
    const QString other = QStringLiteral("new");
    rows[0][2] = &other;
    rows[0][19] = &other;
    rows[1][9] = &other;
    byRows.setRows(5, rows.data(), 2);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], std::make_tuple(3, 5, 20, 6));
    EXPECT_EQ(byRows.cell(10, 6), other);
}

// A copy is a new table: it carries no view of the grid it was copied from.
