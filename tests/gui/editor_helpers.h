#pragma once

// Driving the editor strips of the main window the way the operator does:
// real key events to the box that has the focus.

#include "GridText.h"
#include "tests/gui/FakeSeams.h"

#include "widgets/TableGridView.h"

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

// Clicks grid cell (column, row) with the mouse.
inline void clickCell(TableGridView* view, int column, int row)
{
    const QModelIndex index = view->model()->index(row - 1, column - 1);
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(index).center());
}

// The editor boxes showing association 39 -> 1055, 08:30 to 13:00, working days, line 1.
inline void expectSampleKolvar22Shown(const MainControls& ui)
{
    EXPECT_EQ(ui.Edit2->text(), QStringLiteral("39"));
    EXPECT_EQ(ui.Edit3->text(), QStringLiteral("1055"));
    EXPECT_EQ(ui.Edit5->text(), QStringLiteral("0830"));
    EXPECT_EQ(ui.Edit6->text(), QStringLiteral("1300"));
    EXPECT_EQ(ui.Edit8->text(), QStringLiteral("Feriale"));
    EXPECT_EQ(ui.Edit9->text(), QStringLiteral("1"));
}

} // namespace editortest
