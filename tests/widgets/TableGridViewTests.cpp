#include "device/TableGrid.h"
#include "widgets/TableGridView.h"

#include <QScreen>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>

#include <gtest/gtest.h>

#include <iterator>
#include <memory>

// Shown, the bytes 0x80..0x9F read in the cards' code page; the cell keeps its byte.
TEST(TableGridView, CellsShowTheCardsCodePage)
{
    TableGrid grid;
    grid.setCell(1, 2, static_cast<char>(0x80));
    EXPECT_EQ(TableGridModel::displayText(grid.cell(1, 2)), QStringLiteral("€"));
    EXPECT_EQ(TableGridModel::displayText(QString(QChar(0x9F))), QStringLiteral("Ÿ"));
    EXPECT_EQ(TableGridModel::displayText(QString(QChar(0xE0))), QStringLiteral("à"));
    EXPECT_EQ(grid.cell(1, 2).at(0).unicode(), 0x80);
}

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

// The view paints each look of a cell once and copies it after: the window
// must show what the style paints, after the texts and the selection moved
// on from what was painted first.
TEST(TableGridView, CellsLookAsTheStylePaintsThem)
{
    TableGrid grid;
    QWidget window;
    window.resize(400, 200);
    TableGridView view(grid, &window);
    view.setGeometry(0, 0, 400, 200);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto shown = [&] {
        window.repaint();
        return window.screen()->grabWindow(window.winId()).toImage();
    };
    const char* const texts[] = { "", "-", "*", "#", "0", "7", "12", "255", "\x80", "\xE8", "GEST." };
    for (int round = 0; round < 2; ++round) {
        for (int r = 1; r <= 12; ++r)
            for (int c = 1; c <= 20; ++c)
                grid.setCell(c, r, QString::fromLatin1(texts[(c * 7 + r * 3 + round) % std::size(texts)]));
        view.setFocus();
        view.setCurrentRow(2 + round);
        view.setCurrentColumn(3 + round);
        shown();
    }
    const QImage copied = shown();
    view.setItemDelegate(new QStyledItemDelegate(&view));
    EXPECT_EQ(shown(), copied);
}
