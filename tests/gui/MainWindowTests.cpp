// The main window as the operator finds it: start-up state, layout, the
// model switch, help, and the link commands that need no box.

#include "tests/gui/FakeSeams.h"

#include "BoxSim.h"

#include "widgets/TableGridView.h"
#include "widgets/ALed.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QCompleter>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTextBrowser>
#include <QWindow>

#include <gtest/gtest.h>

namespace {



} // namespace

TEST(MainWindow, StartsWithAnEmptyTableAndNoModel)
{
    Fixture f;
    const TableGrid& g = f.window.grid();
    for (int r = 1; r <= 128; ++r)
        for (int c = 1; c <= 26; ++c)
            ASSERT_EQ(g.cell(c, r), QStringLiteral("-")) << c << "," << r;
    EXPECT_EQ(g.cell(0, 0), QString());
    EXPECT_EQ(g.cell(0, 1), QString());
    for (int r = 2; r <= 128; ++r)
        ASSERT_EQ(g.cell(0, r), QString::number(r - 1));
    const QString labels[27] = { "", "P", "R", "E", "F", ".", "", "G", "E", "S", "T", ".", "", "", "",
                                 "D", "A", ":", "", "A", ":", "", "", "G", "", "L", "" };
    for (int c = 0; c < 27; ++c)
        EXPECT_EQ(g.cell(c, 0), labels[c]) << "label " << c;

    EXPECT_EQ(f.window.windowTitle(), QStringLiteral("Varnholtica Kolvar22 Programmer"));
    EXPECT_EQ(f.ui.Model1->text(), QStringLiteral("Model"));
    EXPECT_EQ(f.ui.EditDevName->text(), QStringLiteral("Com2"));
    EXPECT_EQ(f.ui.SpinEdit1->value(), 1);
    EXPECT_EQ(f.ui.ProgressBar1->maximum(), 2047);
    EXPECT_EQ(f.ui.ProgressBar1->value(), 0);
    EXPECT_FALSE(f.window.summaryEditing());
    EXPECT_FALSE(f.form2.isVisible());
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clGreen);
    EXPECT_FALSE(f.window.exchange().port().Enabled());
    EXPECT_EQ(f.window.exchange().port().ReadTimeout(), 4000);
    EXPECT_EQ(f.window.exchange().port().WriteTimeout(), 2000);
    EXPECT_EQ(f.window.exchange().port().WriteBufSize(), 4096);
    EXPECT_EQ(f.window.exchange().port().FlowControl(), fcNone);
    EXPECT_EQ(f.window.exchange().port().MonitorEvents(), (TCommEventTypes { evRxChar, evTxEmpty }));
}

TEST(MainWindow, ControlsSitWhereTheOperatorExpectsThem)
{
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    EXPECT_EQ(w.size(), QSize(701, 465));
    EXPECT_EQ(w.minimumSize(), w.maximumSize()); // fixed border
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(ui.StringGrid1->geometry(), QRect(4, 8, 597, 321));
    EXPECT_EQ(ui.ProgressBar1->geometry(), QRect(448, 336, 249, 25));
    EXPECT_EQ(ui.ALed1->geometry(), QRect(644, 168, 16, 16));
    EXPECT_EQ(ui.StringGrid1->verticalHeader()->width(), 30);
    EXPECT_EQ(ui.StringGrid1->columnWidth(0), 20);
    EXPECT_EQ(ui.StringGrid1->rowHeight(0), 20);

    // Right column top to bottom, header strip and association strip left to right.
    const QList<QWidget*> column { ui.EditDevName, ui.Button1, ui.ButtonReset, ui.ButtonTransmit, ui.ALed1,
                                   ui.Button4, ui.Button5, ui.Button6, ui.Button10 };
    for (int i = 0; i + 1 < column.size(); ++i)
        EXPECT_LT(column[i]->geometry().bottom(), column[i + 1]->geometry().top()) << i;
    const QList<QWidget*> strip { ui.Edit2, ui.Edit3, ui.Edit5, ui.Edit6, ui.Button8, ui.Edit8, ui.Button7, ui.Edit9,
                                  ui.SpinEdit1, ui.Button9 };
    for (int i = 0; i + 1 < strip.size(); ++i)
        EXPECT_LT(strip[i]->geometry().right(), strip[i + 1]->geometry().left()) << i;
    for (QWidget* c : strip)
        EXPECT_TRUE(QRect(4, 398, 693, 60).contains(c->geometry())) << c->objectName().toStdString();
    for (QWidget* c : { (QWidget*)ui.Button2, (QWidget*)ui.Edit1, (QWidget*)ui.Edit4, (QWidget*)ui.Edit7,
                        (QWidget*)ui.CheckListBox1 })
        EXPECT_TRUE(QRect(4, 333, 437, 60).contains(c->geometry())) << c->objectName().toStdString();

    EXPECT_EQ(ui.Edit2->font().pixelSize(), 24);
    EXPECT_EQ(ui.Edit8->font().pixelSize(), 16);
    EXPECT_EQ(ui.Edit4->font().pixelSize(), 16);
    EXPECT_TRUE(ui.EditDevName->font().fixedPitch() || ui.EditDevName->font().styleHint() == QFont::Monospace);
    EXPECT_EQ(ui.EditDevName->palette().color(QPalette::Text), QColor(Qt::red));
    EXPECT_EQ(ui.SpinEdit1->palette().color(QPalette::Base), QColor(0, 255, 255));
    EXPECT_TRUE(ui.Button9->font().underline());
    EXPECT_EQ(ui.SpinEdit1->minimum(), 1);
    EXPECT_EQ(ui.SpinEdit1->maximum(), 127);
    EXPECT_EQ(ui.CheckListBox1->count(), 2);
    EXPECT_EQ(ui.CheckListBox1->item(0)->text(), QStringLiteral("Beep"));
    EXPECT_EQ(ui.CheckListBox1->item(1)->text(), QStringLiteral("Flash"));
}

TEST(MainWindow, CaptionsHintsAndAccessibleNames)
{
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    const std::pair<const char*, const char*> captions[] = {
        { "LabelDevName", "Porta:" },  { "Label3", "Gestione" },  { "Label4", "Prefisso Locale" },
        { "Label8", "Orario/Giorno" }, { "Label1", "Prefisso" },  { "Label2", "Gestore" },
        { "Label6", "Dalle" },         { "Label7", "Alle" },      { "Label9", "Giorno" },
        { "Label10", "Linea" },        { "Label5", "Associazione:" },
    };
    for (const auto& [name, text] : captions)
        EXPECT_EQ(control<QLabel>(w, name)->text(), QLatin1String(text)) << name;
    const std::pair<const char*, const char*> buttons[] = {
        { "Button3", "X" },           { "Button1", "Stop" },          { "ButtonReset", "Cancella" },
        { "ButtonTransmit", "Leggi Eeprom" }, { "Button4", "Scrivi Eeprom" }, { "Button5", "Salva su File" },
        { "Button6", "Copia da file" }, { "Button10", "Utente" },     { "Button2", "X" },
        { "Button8", "X" },           { "Button7", "X" },             { "Button9", "Cancella" },
    };
    for (const auto& [name, text] : buttons) {
        auto* b = control<QPushButton>(w, name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(b->text(), QLatin1String(text)) << name;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(QAccessible::Name), QLatin1String(text)) << name;
    }
    const std::pair<QWidget*, const char*> hints[] = {
        { ui.Edit1, "Automatica/Manuale" },      { ui.Edit7, "Orario letto dal Kolvar22" },
        { ui.Edit2, "Prefisso telefonico" },     { ui.Edit3, "Codice gestore" },
        { ui.Edit5, "Orario di inizio" },        { ui.Edit6, "Orario di fine" },
        { ui.Edit8, "Festivo/Feriale" },         { ui.Edit9, "Linea da utilizzare" },
        { ui.SpinEdit1, "Associazione da editare" }, { ui.Button9, "Cancella l'associazione" },
    };
    for (const auto& [widget, hint] : hints)
        EXPECT_EQ(widget->toolTip(), QLatin1String(hint)) << widget->objectName().toStdString();

    // A screen reader finds each box by its label.
    const std::pair<QWidget*, const char*> named[] = {
        { ui.EditDevName, "Porta:" }, { ui.Edit1, "Gestione" }, { ui.Edit4, "Prefisso Locale" },
        { ui.Edit7, "Orario/Giorno" }, { ui.Edit2, "Prefisso" }, { ui.Edit3, "Gestore" }, { ui.Edit5, "Dalle" },
        { ui.Edit6, "Alle" }, { ui.Edit8, "Giorno" }, { ui.Edit9, "Linea" }, { ui.SpinEdit1, "Associazione:" },
    };
    for (const auto& [widget, name] : named) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(QAccessible::Name), QLatin1String(name)) << widget->objectName().toStdString();
    }
}

TEST(MainWindow, GridCellsAreReadableThroughAccessibility)
{
    Fixture f;
    f.window.grid().setCell(3, 40, QStringLiteral("7"));
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(f.ui.StringGrid1);
    ASSERT_NE(grid, nullptr);
    QAccessibleTableInterface* table = grid->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 128);
    EXPECT_EQ(table->columnCount(), 26);
    QAccessibleInterface* cell = table->cellAt(39, 2);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), QStringLiteral("7"));
}

TEST(MainWindow, TabOrderFollowsTheStrips)
{
    Fixture f;
    const MainControls& ui = f.ui;
    const QList<QWidget*> order { ui.Button2, ui.Edit4, ui.Edit7, ui.Edit2, ui.Edit3, ui.Edit5, ui.Edit6, ui.Button8,
                                  ui.Button7, ui.SpinEdit1, ui.ButtonReset, ui.ButtonTransmit, ui.Button4, ui.Button5,
                                  ui.Button6, ui.Edit1, ui.EditDevName, ui.StringGrid1, ui.Button3, ui.Edit8, ui.Edit9,
                                  ui.ProgressBar1, ui.Button1, ui.Button9, ui.CheckListBox1, ui.Button10 };
    for (int i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        // Spin boxes and lists carry their own parts inside the chain; labels
        // sit in it without taking the focus.
        while (next && next != order[0]
               && (order[i]->isAncestorOf(next) || !(next->focusPolicy() & Qt::TabFocus)))
            next = next->nextInFocusChain();
        EXPECT_EQ(next, order[i + 1]) << order[i]->objectName().toStdString() << " -> "
                                      << (next ? next->metaObject()->className() : "none") << " "
                                      << (next ? next->objectName().toStdString() : "");
    }
}

TEST(MainWindow, ModelEntrySwitchesCaptionsMarkerAndControlsOnly)
{
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    w.grid().setCell(5, 10, QStringLiteral("7"));
    w.grid().setCell(2, 1, QStringLiteral("#"));

    ui.Model1->trigger(); // first use: Kolvar22
    EXPECT_EQ(ui.Model1->text(), QStringLiteral("Kolvar22"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnholtica Kolvar22 Programmer"));
    EXPECT_EQ(w.grid().cell(1, 1), QStringLiteral("U"));
    for (QWidget* c : ui.modelControls())
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();

    ui.Model1->trigger();
    EXPECT_EQ(ui.Model1->text(), QStringLiteral("Kolvar1"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnholtica Kolvar1 Programmer"));
    EXPECT_EQ(w.grid().cell(1, 1), QStringLiteral("Y"));
    for (QWidget* c : ui.modelControls())
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_TRUE(ui.Edit2->isEnabled());
    EXPECT_TRUE(ui.Edit3->isEnabled());

    ui.Model1->trigger();
    EXPECT_EQ(w.grid().cell(1, 1), QStringLiteral("U"));
    // The table itself is untouched by the switch.
    EXPECT_EQ(w.grid().cell(5, 10), QStringLiteral("7"));
    EXPECT_EQ(w.grid().cell(2, 1), QStringLiteral("#"));
    EXPECT_EQ(w.grid().cell(1, 2), QStringLiteral("-"));
}

TEST(MainWindow, EveryHelpContextHasATopic)
{
    auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    ASSERT_FALSE(app->helpFile().path().isEmpty()) << "Pradix.hlp not found next to the tests";
    QList<int> contexts;
    for (int i = 1; i <= 24; ++i)
        contexts << i;
    contexts << 210 << 220 << 230;
    for (int c : contexts) {
        EXPECT_TRUE(app->helpFile().contains(c)) << c;
        EXPECT_FALSE(app->helpFile().topic(c).text.isEmpty()) << c;
    }
}

TEST(MainWindow, F1OpensTheFocusedControlsTopic)
{
    Fixture f;
    auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    f.window.show();
    QApplication::setActiveWindow(&f.window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));

    const std::pair<QWidget*, int> topics[] = {
        { f.ui.EditDevName, 1 }, { f.ui.Edit1, 2 }, { f.ui.Edit4, 3 }, { f.ui.Edit7, 4 },
        { f.ui.CheckListBox1, 5 }, { f.ui.Edit2, 6 }, { f.ui.Edit3, 7 }, { f.ui.Edit5, 8 },
        { f.ui.Edit6, 9 }, { f.ui.Edit8, 10 }, { f.ui.Edit9, 11 }, { f.ui.SpinEdit1, 12 },
        { f.ui.ProgressBar1, 13 }, { f.ui.StringGrid1, 14 },
    };
    f.ui.Model1->trigger(); // Kolvar22: every box enabled
    for (const auto& [widget, topic] : topics) {
        widget->setFocus();
        // As the desktop delivers it: to the window, which passes it to the focus.
        QTest::keyClick(f.window.windowHandle(), Qt::Key_F1);
        ASSERT_NE(app->helpViewer(), nullptr);
        EXPECT_EQ(app->helpViewer()->currentContext(), topic) << widget->objectName().toStdString();
        auto* text = app->helpViewer()->findChild<QTextBrowser*>(QStringLiteral("HelpText"));
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(text->toPlainText().startsWith(app->helpFile().topic(topic).title));
    }
    // In the popup menu, the topic of the highlighted entry.
    f.ui.PopupMenu1->popup(f.window.mapToGlobal(QPoint(50, 50)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.ui.PopupMenu1));
    for (QAction* entry : { f.ui.Setup1, f.ui.Model1 }) {
        f.ui.PopupMenu1->setActiveAction(entry);
        QTest::keyClick(f.ui.PopupMenu1, Qt::Key_F1);
        EXPECT_EQ(app->helpViewer()->currentContext(), entry == f.ui.Model1 ? 220 : 210);
    }
    f.ui.PopupMenu1->close();
    app->helpViewer()->close();
}

TEST(MainWindow, HelpFileParsingIsBounded)
{
    HelpFile help;
    help.parse("# comment\n[7] Gestore\nriga uno\r\n\r\nriga due\n[x] not a topic\n[9999999] too long\n[8]\n");
    EXPECT_TRUE(help.contains(7));
    EXPECT_EQ(help.topic(7).title, QStringLiteral("Gestore"));
    EXPECT_TRUE(help.topic(7).text.startsWith(QStringLiteral("riga uno")));
    EXPECT_TRUE(help.topic(7).text.contains(QStringLiteral("[x] not a topic")));
    EXPECT_FALSE(help.contains(9999999));
    EXPECT_TRUE(help.contains(8));
    EXPECT_FALSE(help.load(QStringLiteral("/nonexistent/Pradix.hlp")));
}

// Typing a port opens the list of ports under "Porta:"; the operator's next click, on "Leggi
// Eeprom", must read the box the first time. Press and release come in through the window, the
// way the pointer's do, so the open list sees them first.
TEST(MainWindow, AClickWhileThePortListIsOpenReachesTheButtonUnderThePointer)
{
    BoxSim sim;
    ASSERT_TRUE(sim.start({ "--fast", "--link", "com2" })) << sim.error();
    Fixture f;
    f.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.window));
    QApplication::setActiveWindow(&f.window);
    f.ui.EditDevName->setFocus();
    f.ui.EditDevName->clear();
    QTest::keyClicks(f.ui.EditDevName, QStringLiteral("com2"));
    const QCompleter* completer = f.ui.EditDevName->completer();
    ASSERT_TRUE(completer && completer->popup()->isVisible());

    QWindow* handle = f.window.windowHandle();
    const QPoint at = f.ui.ButtonTransmit->mapTo(&f.window, f.ui.ButtonTransmit->rect().center());
    QTest::mousePress(handle, Qt::LeftButton, {}, at);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, at);
    EXPECT_FALSE(completer->popup()->isVisible());
    EXPECT_EQ(f.ui.EditDevName->text(), QStringLiteral("com2"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f.ui.Label11->text().isEmpty(); }, 10000)) << "nothing was read";
    ASSERT_TRUE(f.waitIdle());
}
