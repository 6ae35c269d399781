#include "editor/AssociationEditor.h"
#include "editor/FieldRules.h"
#include "GridText.h"

#include <gtest/gtest.h>

#include <climits>

using codec::Model;
using editor::BoxFill;
using editor::boxesForAssociation;

namespace {

TableGrid kolvar22Grid()
{
    TableGrid grid = freshGrid();
    grid.setCell(1, 1, 'U');
    return grid;
}

TableGrid kolvar1Grid()
{
    TableGrid grid = freshGrid();
    grid.setCell(1, 1, 'Y');
    return grid;
}

} // namespace

TEST(SelectorValue, NumbersAsTypedAndEverythingElseAsOne)
{
    EXPECT_EQ(editor::selectorValue(QStringLiteral("39")), 39);
    EXPECT_EQ(editor::selectorValue(QStringLiteral("007")), 7);
    EXPECT_EQ(editor::selectorValue(QStringLiteral("0")), 0);
    EXPECT_EQ(editor::selectorValue(QStringLiteral("128")), 128);
    EXPECT_EQ(editor::selectorValue(QString()), 1);
    EXPECT_EQ(editor::selectorValue(QStringLiteral("abc")), 1);
    EXPECT_EQ(editor::selectorValue(QStringLiteral("1a")), 1);
    // Too many digits for any integer: still a number, and beyond the table.
    EXPECT_EQ(editor::selectorValue(QStringLiteral("99999999999999999999999")), INT_MAX);
    EXPECT_EQ(editor::selectorValue(QStringLiteral("4294967297")), INT_MAX);
}

TEST(SelectorValue, OnlyAssociationsOneTo127HaveARow)
{
    EXPECT_EQ(editor::associationRow(1), 2);
    EXPECT_EQ(editor::associationRow(127), 128);
    for (int n : { 0, -1, 128, 200, INT_MAX, INT_MIN })
        EXPECT_EQ(editor::associationRow(n), 0) << n;
}

TEST(FillBoxes, EmptyKolvar22AssociationShowsItsDashes)
{
    const TableGrid grid = kolvar22Grid();
    const BoxFill fill = boxesForAssociation(grid, 5, Model::Kolvar22);
    EXPECT_EQ(fill[fields::Field::Prefix], QStringLiteral("------"));
    EXPECT_EQ(fill[fields::Field::Carrier], QStringLiteral("--------"));
    EXPECT_EQ(fill[fields::Field::StartTime], QStringLiteral("----"));
    EXPECT_EQ(fill[fields::Field::EndTime], QStringLiteral("----"));
    EXPECT_EQ(fill[fields::Field::DayType], QString());
    EXPECT_EQ(fill[fields::Field::Line], QString());
}

TEST(FillBoxes, SixDigitKolvar22PrefixNeverTakesTheCode)
{
    TableGrid grid = kolvar22Grid();
    setRowText(grid, 40, QStringLiteral("1234567"));
    EXPECT_EQ(boxesForAssociation(grid, 39, Model::Kolvar22)[fields::Field::Prefix], QStringLiteral("123456"));
}

TEST(FillBoxes, Kolvar22DayAndLineCellsOutsideTheirValuesLeaveTheBoxes)
{
    TableGrid grid = kolvar22Grid();
    setRowText(grid, 3, QStringLiteral("39****1055****000024005*7#"));
    const BoxFill fill = boxesForAssociation(grid, 2, Model::Kolvar22);
    EXPECT_FALSE(fill[fields::Field::DayType].has_value());
    EXPECT_FALSE(fill[fields::Field::Line].has_value());
    // Time cells are copied whatever they hold, a two-digit cell included.
    grid.setCell(16, 3, QStringLiteral("12"));
    EXPECT_EQ(boxesForAssociation(grid, 2, Model::Kolvar22)[fields::Field::StartTime], QStringLiteral("01200"));
}

TEST(FillBoxes, Kolvar1CodeStartsAfterTheStar)
{
    TableGrid grid = kolvar1Grid();
    setRowText(grid, 2, QStringLiteral("1234567*89#"));
    const BoxFill fill = boxesForAssociation(grid, 1, Model::Kolvar1);
    EXPECT_EQ(fill[fields::Field::Prefix], QStringLiteral("1234567"));
    EXPECT_EQ(fill[fields::Field::Carrier], QStringLiteral("89"));
    EXPECT_FALSE(fill[fields::Field::DayType].has_value());
    EXPECT_FALSE(fill[fields::Field::Line].has_value());
}

TEST(FillBoxes, NoModelEmptiesOnlyPrefixAndCode)
{
    TableGrid grid = freshGrid();
    setRowText(grid, 2, sampleKolvar22);
    const BoxFill fill = boxesForAssociation(grid, 1, Model::None);
    EXPECT_TRUE(fill[fields::Field::Prefix]->isEmpty());
    EXPECT_TRUE(fill[fields::Field::Carrier]->isEmpty());
    EXPECT_FALSE(fill[fields::Field::StartTime] || fill[fields::Field::EndTime] || fill[fields::Field::DayType] || fill[fields::Field::Line]);
}

TEST(FillBoxes, NoAssociationOrEmptyFirstCellEmptiesEveryBox)
{
    TableGrid grid = kolvar22Grid();
    setRowText(grid, 2, sampleKolvar22);
    for (int n : { 0, 128, INT_MAX, -5 }) {
        const BoxFill fill = boxesForAssociation(grid, n, Model::Kolvar22);
        EXPECT_TRUE(fill[fields::Field::Prefix]->isEmpty() && fill[fields::Field::Carrier]->isEmpty()) << n;
        EXPECT_EQ(fill[fields::Field::StartTime], QString()) << n;
        EXPECT_EQ(fill[fields::Field::EndTime], QString()) << n;
        EXPECT_EQ(fill[fields::Field::DayType], QString()) << n;
        EXPECT_EQ(fill[fields::Field::Line], QString()) << n;
    }
    grid.setCell(1, 2, QString());
    EXPECT_EQ(boxesForAssociation(grid, 1, Model::Kolvar22)[fields::Field::StartTime], QString());
    EXPECT_EQ(boxesForAssociation(grid, 1, Model::Kolvar22)[fields::Field::Carrier], QString());
}

TEST(FillBoxes, CodeZeroCellsShowNothing)
{
    // Rows a short file did not reach hold the code 0 in every cell.
    TableGrid grid;
    grid.fillData(QString(QChar(0)));
    grid.setCell(1, 1, 'U');
    const BoxFill fill = boxesForAssociation(grid, 10, Model::Kolvar22);
    EXPECT_EQ(fill[fields::Field::Prefix], QString());
    EXPECT_EQ(fill[fields::Field::Carrier], QString());
    EXPECT_EQ(fill[fields::Field::StartTime], QString());
    EXPECT_FALSE(fill[fields::Field::DayType].has_value());
}

TEST(HeaderBoxes, ManagementOnlyForItsTwoLetters)
{
    TableGrid grid = freshGrid();
    grid.setCell(3, 1, 'M');
    EXPECT_EQ(editor::boxesForHeader(grid).management, QStringLiteral("Manuale"));
    grid.setCell(3, 1, 'A');
    EXPECT_EQ(editor::boxesForHeader(grid).management, QStringLiteral("Automatica"));
    for (const QString& other : { QString(), QStringLiteral("-"), QStringLiteral("AM"), QStringLiteral("a") }) {
        grid.setCell(3, 1, other);
        EXPECT_FALSE(editor::boxesForHeader(grid).management.has_value()) << other.toStdString();
    }
}

// The read shows the local prefix from cells 5..15 up to the first "#"; the
// local-prefix box writes 5..14 and leaves beep and flash alone. A prefix
// that fills every cell it may write therefore reads back with the beep
// cell joined to it.
TEST(HeaderBoxes, LocalPrefixIsReadFurtherThanItIsWritten)
{
    TableGrid grid = freshGrid();
    setRowText(grid, 1, QStringLiteral("U#A#0461#---#-B0"));
    EXPECT_EQ(editor::boxesForHeader(grid).localPrefix, QStringLiteral("0461"));

    setRowText(grid, 1, QStringLiteral("#"), 5);
    EXPECT_EQ(editor::boxesForHeader(grid).localPrefix, QString());

    // No "#" up to cell 15: the join stops after it, cell 16 never joins.
    setRowText(grid, 1, QStringLiteral("123456789012"), 5);
    EXPECT_EQ(editor::boxesForHeader(grid).localPrefix, QStringLiteral("12345678901"));

    editor::beepFlashClicked(grid, true, true);
    editor::localPrefixReleased(grid, QStringLiteral("12345678901234"));
    EXPECT_EQ(rowText(grid, 1, 5, 16), QStringLiteral("1234567890BF"));
    EXPECT_EQ(editor::boxesForHeader(grid).localPrefix, QStringLiteral("1234567890B"));
}

TEST(GridClick, RowNumbersAndModelSwitch)
{
    TableGrid grid = freshGrid();
    grid.setCell(0, 5, QStringLiteral("x"));
    editor::rewriteRowNumbers(grid);
    EXPECT_EQ(grid.cell(0, 2), QStringLiteral("1"));
    EXPECT_EQ(grid.cell(0, 5), QStringLiteral("4"));
    EXPECT_EQ(grid.cell(0, 128), QStringLiteral("127"));
    EXPECT_TRUE(grid.cell(0, 1).isEmpty());

    EXPECT_EQ(editor::modelAfterMarkerClick(grid), Model::Kolvar22); // "-"
    grid.setCell(1, 1, 'U');
    EXPECT_EQ(editor::modelAfterMarkerClick(grid), Model::Kolvar1);
    grid.setCell(1, 1, 'Y');
    EXPECT_EQ(editor::modelAfterMarkerClick(grid), Model::Kolvar22);
}
