// Selecting an association: the selector, clicks on the grid, the model
// switch on the first cell, and "Cancella" beside the selector.

#include "tests/gui/editor_helpers.h"

#include <QAction>

using namespace editortest;

TEST(EditorSelection, SelectorFillsTheBoxesFromItsRow)
{
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    TableGrid& g = w.grid();
    w.selectModel(codec::Model::Kolvar22);
    setRowText(g, 40, sampleKolvar22);
    setRowText(g, 41, QStringLiteral("39****123#****------------"));

    ui.SpinEdit1->setValue(39);
    editortest::expectSampleKolvar22Shown(ui);

    ui.SpinEdit1->setValue(40); // carrier end mark
    EXPECT_EQ(ui.Edit3->text(), QStringLiteral("123#"));
    EXPECT_EQ(ui.Edit5->text(), QStringLiteral("----"));
    EXPECT_EQ(ui.Edit8->text(), QString());
    EXPECT_EQ(ui.Edit9->text(), QString());

    // An empty association shows all its dashes: no box cuts them to its typing limit.
    ui.SpinEdit1->setValue(3);
    EXPECT_EQ(ui.Edit2->text(), QStringLiteral("------"));
    EXPECT_EQ(ui.Edit3->text(), QStringLiteral("--------"));
    EXPECT_EQ(ui.Edit5->text(), QStringLiteral("----"));
    EXPECT_EQ(ui.Edit6->text(), QStringLiteral("----"));
    EXPECT_EQ(rowText(g, 4), QString(26, QLatin1Char('-')));
}

TEST(EditorSelection, FillingWritesDayTypeAndLineBackWithTheirMarks)
{
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    TableGrid& g = w.grid();
    w.selectModel(codec::Model::Kolvar22);
    setRowText(g, 6, QStringLiteral("39****1055****000024002-2-"));
    ui.SpinEdit1->setValue(5);
    EXPECT_EQ(ui.Edit8->text(), QStringLiteral("Festivo"));
    EXPECT_EQ(ui.Edit9->text(), QStringLiteral("2"));
    EXPECT_EQ(rowText(g, 6, 23, 26), QStringLiteral("2*2#"));
}

TEST(EditorSelection, Kolvar1AndNoModel)
{
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    TableGrid& g = w.grid();
    ui.Edit5->setText(QStringLiteral("1111"));
    ui.Edit8->setText(QStringLiteral("Sempre"));

    // No model: only prefix and code are emptied.
    setRowText(g, 3, sampleKolvar22);
    ui.SpinEdit1->setValue(2);
    EXPECT_EQ(ui.Edit2->text(), QString());
    EXPECT_EQ(ui.Edit3->text(), QString());
    EXPECT_EQ(ui.Edit5->text(), QStringLiteral("1111"));
    EXPECT_EQ(ui.Edit8->text(), QStringLiteral("Sempre"));

    w.selectModel(codec::Model::Kolvar1);
    setRowText(g, 4, QStringLiteral("39*41#--------------------"));
    ui.SpinEdit1->setValue(3);
    EXPECT_EQ(ui.Edit2->text(), QStringLiteral("39"));
    EXPECT_EQ(ui.Edit3->text(), QStringLiteral("41"));
    EXPECT_EQ(ui.Edit5->text(), QString());
    EXPECT_EQ(ui.Edit6->text(), QString());
    EXPECT_EQ(ui.Edit8->text(), QStringLiteral("Sempre"));

    ui.SpinEdit1->setValue(4);
    EXPECT_EQ(ui.Edit2->text(), QStringLiteral("-------"));
    EXPECT_EQ(ui.Edit3->text(), QStringLiteral("-------"));
}

TEST(EditorSelection, TypedSelectorTextDecidesTheAssociation)
{
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    TableGrid& g = w.grid();
    showActive(w);
    w.selectModel(codec::Model::Kolvar22);
    setRowText(g, 40, sampleKolvar22);

    focus(ui.SpinEdit1);
    ui.SpinEdit1->selectAll();
    type(QStringLiteral("39"));
    EXPECT_EQ(ui.Edit2->text(), QStringLiteral("39"));
    EXPECT_EQ(ui.Edit9->text(), QStringLiteral("1"));

    // 0 while typing selects nothing: every box is emptied, no cell written.
    const TableGrid before = g;
    ui.SpinEdit1->selectAll();
    type(QStringLiteral("0 +a"));
    EXPECT_EQ(ui.SpinEdit1->text(), QStringLiteral("0"));
    for (QLineEdit* box : { ui.Edit2, ui.Edit3, ui.Edit5, ui.Edit6, ui.Edit8, ui.Edit9 })
        EXPECT_TRUE(box->text().isEmpty()) << box->objectName().toStdString();
    EXPECT_TRUE(g.dataEquals(before));

    // Leaving the selector clamps it to association 1: the boxes show that
    // association before a key released in them writes its row.
    focus(ui.Edit2);
    EXPECT_EQ(ui.SpinEdit1->text(), QStringLiteral("1"));
    EXPECT_EQ(ui.Edit2->text(), QStringLiteral("------"));
    key(Qt::Key_Right);
    tab();
    EXPECT_EQ(rowText(g, 40), sampleKolvar22);
    EXPECT_TRUE(g.dataEquals(before));

    // Whatever the selector's text reads beyond 127, no row outside the grid is touched.
    auto* selectorText = ui.SpinEdit1->findChild<QLineEdit*>();
    ASSERT_NE(selectorText, nullptr);
    for (const QString& text : { QStringLiteral("128"), QStringLiteral("999999999999"), QStringLiteral("-4") }) {
        selectorText->setText(text);
        EXPECT_TRUE(ui.Edit2->text().isEmpty()) << text.toStdString();
        ui.Edit8->setText(QStringLiteral("Sempre"));
        ui.Edit9->setText(QStringLiteral("1"));
        ui.Button9->click();
        EXPECT_TRUE(g.dataEquals(before)) << text.toStdString();
    }
    // A text that is no number reads as 1.
    setRowText(g, 2, sampleKolvar22);
    selectorText->setText(QStringLiteral("x"));
    EXPECT_EQ(ui.Edit2->text(), QStringLiteral("39"));
}

TEST(EditorSelection, GridClicksSelectTheRowAndSwitchTheModel)
{
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    TableGrid& g = w.grid();
    showActive(w);
    w.selectModel(codec::Model::Kolvar22);
    setRowText(g, 40, sampleKolvar22);
    g.setCell(0, 7, QStringLiteral("x"));

    clickCell(ui.StringGrid1, 5, 40);
    EXPECT_EQ(ui.SpinEdit1->value(), 39);
    EXPECT_EQ(ui.Edit3->text(), QStringLiteral("1055"));
    EXPECT_EQ(g.cell(0, 7), QStringLiteral("6")); // row numbers rewritten

    // The keyboard moves the selection, and the association with it.
    focus(ui.StringGrid1);
    key(Qt::Key_Down);
    EXPECT_EQ(ui.SpinEdit1->value(), 40);
    EXPECT_EQ(ui.Edit2->text(), QStringLiteral("------"));

    // Row 1 leaves the selector alone; its first cell switches the model.
    clickCell(ui.StringGrid1, 5, 1);
    EXPECT_EQ(ui.SpinEdit1->value(), 40);
    EXPECT_EQ(g.cell(1, 1), QStringLiteral("U"));

    g.setCell(2, 1, QStringLiteral("-"));
    clickCell(ui.StringGrid1, 1, 1);
    EXPECT_EQ(g.cell(1, 1), QStringLiteral("Y"));
    EXPECT_EQ(g.cell(2, 1), QStringLiteral("#"));
    EXPECT_EQ(ui.Model1->text(), QStringLiteral("Kolvar1"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnholtica Kolvar1 Programmer"));
    for (QWidget* c : ui.modelControls())
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_EQ(rowText(g, 40), sampleKolvar22); // association rows keep their cells

    // Clicking the same cell again returns to the model before.
    clickCell(ui.StringGrid1, 1, 1);
    EXPECT_EQ(g.cell(1, 1), QStringLiteral("U"));
    EXPECT_EQ(ui.Model1->text(), QStringLiteral("Kolvar22"));
    for (QWidget* c : ui.modelControls())
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
}

TEST(EditorSelection, MarkerClickWithNoModelChoosesKolvar22)
{
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    showActive(w);
    clickCell(ui.StringGrid1, 1, 1);
    EXPECT_EQ(w.grid().cell(1, 1), QStringLiteral("U"));
    EXPECT_EQ(w.grid().cell(2, 1), QStringLiteral("#"));
    EXPECT_EQ(ui.Model1->text(), QStringLiteral("Kolvar22"));
}

TEST(EditorSelection, CancellaEmptiesTheAssociationAndTheBoxes)
{
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    TableGrid& g = w.grid();
    w.selectModel(codec::Model::Kolvar22);
    setRowText(g, 6, sampleKolvar22);
    setRowText(g, 7, sampleKolvar22);
    ui.Button2->click();
    ASSERT_EQ(ui.Edit1->text(), QStringLiteral("Automatica"));
    ASSERT_EQ(g.cell(3, 1), QStringLiteral("A"));
    ui.Edit4->setText(QStringLiteral("0461"));
    ui.Edit7->setText(QStringLiteral("09:05  Mercoledi"));
    ui.SpinEdit1->setValue(5);

    ui.Button9->click();
    EXPECT_EQ(rowText(g, 6), QString(26, QLatin1Char('-')));
    EXPECT_EQ(rowText(g, 7), sampleKolvar22);
    for (QLineEdit* box : { ui.Edit1, ui.Edit2, ui.Edit3, ui.Edit4, ui.Edit5, ui.Edit6, ui.Edit7, ui.Edit8, ui.Edit9 })
        EXPECT_TRUE(box->text().isEmpty()) << box->objectName().toStdString();
    EXPECT_EQ(rowText(g, 1, 1, 4), QStringLiteral("U#M#"));
    EXPECT_EQ(ui.SpinEdit1->value(), 5);
    EXPECT_TRUE(f.dialogs.shown.isEmpty()); // no confirmation asked
}
