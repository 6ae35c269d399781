#pragma once

// Driving the editor strips of the main window the way the operator does:
// real key events to the box that has the focus.

#include "tests/gui/FakeSeams.h"

#include "device/TableGridView.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

namespace editortest {

inline void showActive(TfrmMain& window)
{
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

// Gives `w` the focus as a click or Tab would.
inline void focus(QWidget* w)
{
    w->setFocus(Qt::OtherFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), w);
}

// Types into the box that has the focus, one press and release per character.
inline void type(const QString& text)
{
    for (QChar c : text)
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

inline void key(Qt::Key k, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QTest::keyClick(QApplication::focusWidget(), k);
}

// Tab: the press goes to the box being left, the release to the one entered.
inline void tab()
{
    QWidget* from = QApplication::focusWidget();
    ASSERT_NE(from, nullptr);
    QTest::keyPress(from, Qt::Key_Tab);
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Tab);
}

// Erases a box with Backspace from its end, as the operator would.
inline void erase(QLineEdit* box)
{
    focus(box);
    box->end(false);
    key(Qt::Key_Backspace, int(box->text().size()));
}

inline QString rowText(const TableGrid& grid, int row, int first = 1, int last = 26)
{
    QString text;
    for (int c = first; c <= last; ++c)
        text += grid.cell(c, row);
    return text;
}

inline void setRowText(TableGrid& grid, int row, const QString& cells, int firstColumn = 1)
{
    for (int i = 0; i < cells.size(); ++i)
        grid.setCell(firstColumn + i, row, QString(cells.at(i)));
}

// Clicks grid cell (column, row) with the mouse.
inline void clickCell(TableGridView* view, int column, int row)
{
    const QModelIndex index = view->model()->index(row - 1, column - 1);
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(index).center());
}

inline const QString sampleKolvar22 = QStringLiteral("39****1055****083013001*1#");

// The editor boxes showing association 39 -> 1055, 08:30 to 13:00, working days, line 1.
inline void expectSampleKolvar22Shown(const TfrmMain& w)
{
    EXPECT_EQ(w.Edit2->text(), QStringLiteral("39"));
    EXPECT_EQ(w.Edit3->text(), QStringLiteral("1055"));
    EXPECT_EQ(w.Edit5->text(), QStringLiteral("0830"));
    EXPECT_EQ(w.Edit6->text(), QStringLiteral("1300"));
    EXPECT_EQ(w.Edit8->text(), QStringLiteral("Feriale"));
    EXPECT_EQ(w.Edit9->text(), QStringLiteral("1"));
}

} // namespace editortest
