// The entry rules of the editor boxes, driven with real key events: key
// filters, key-release rules (the Tab that enters a box included), change
// rules and the "X" buttons.

#include "tests/gui/editor_helpers.h"

#include <QClipboard>
#include <QKeyEvent>

using namespace editortest;

namespace {

// A shown, active window with a Kolvar22 table and association 1 selected.
struct Editing
{
    explicit Editing(codec::Model model = codec::Model::Kolvar22)
    {
        showActive(f.window);
        f.window.selectModel(model);
        f.ui.SpinEdit1->setValue(2);
        f.ui.SpinEdit1->setValue(1);
    }
    TfrmMain& w() { return f.window; }
    TableGrid& g() { return f.window.grid(); }

    Fixture f;
};

} // namespace

TEST(EditorFields, NewKolvar22AssociationTypedIntoAnEmptyRow)
{
    Editing e;
    const MainControls& ui = e.f.ui;
    ASSERT_EQ(ui.Edit2->text(), QStringLiteral("------"));

    erase(ui.Edit2);
    type(QStringLiteral("39"));
    EXPECT_EQ(rowText(e.g(), 2), QStringLiteral("39****--------------------"));

    // The Tab release into the code box writes what the box holds: its dashes.
    tab();
    ASSERT_EQ(QApplication::focusWidget(), ui.Edit3);
    EXPECT_EQ(rowText(e.g(), 2, 7, 26), QString(20, QLatin1Char('-')));

    // The defaults come the moment the code box becomes empty.
    ui.Edit3->end(false);
    key(Qt::Key_Backspace, 7);
    EXPECT_EQ(rowText(e.g(), 2, 7, 14), QStringLiteral("-*******"));
    EXPECT_EQ(ui.Edit5->text(), QStringLiteral("----"));
    key(Qt::Key_Backspace);
    EXPECT_EQ(rowText(e.g(), 2), QStringLiteral("39************000024000*--"));
    EXPECT_EQ(ui.Edit5->text(), QStringLiteral("0000"));
    EXPECT_EQ(ui.Edit6->text(), QStringLiteral("2400"));

    type(QStringLiteral("1055"));
    EXPECT_EQ(rowText(e.g(), 2), QStringLiteral("39****1055****000024000*--"));
    EXPECT_TRUE(ui.Edit8->text().isEmpty()); // although cell 23 holds "0"

    ui.Button7->click();
    EXPECT_EQ(ui.Edit9->text(), QStringLiteral("0"));
    EXPECT_EQ(rowText(e.g(), 2, 25, 26), QStringLiteral("0#"));
    EXPECT_EQ(e.f.beeper.beeps, 0);
}

TEST(EditorFields, TabFromAFilledPrefixIntoAnEmptyCodeBoxWritesTheDefaults)
{
    Editing e;
    const MainControls& ui = e.f.ui;
    setRowText(e.g(), 2, QStringLiteral("39****1055****083013001*1#"));
    ui.SpinEdit1->setValue(2);
    ui.SpinEdit1->setValue(1);
    ui.Edit3->clear(); // the program empties it: no rule runs
    ASSERT_EQ(rowText(e.g(), 2, 7, 14), QStringLiteral("1055****"));

    focus(ui.Edit2);
    tab();
    ASSERT_EQ(QApplication::focusWidget(), ui.Edit3);
    EXPECT_EQ(rowText(e.g(), 2), QStringLiteral("39************000024000*1#"));
    EXPECT_EQ(ui.Edit5->text(), QStringLiteral("0000"));
    EXPECT_EQ(ui.Edit6->text(), QStringLiteral("2400"));
    EXPECT_EQ(ui.Edit8->text(), QStringLiteral("Feriale")); // the day-type box is not changed
}

TEST(EditorFields, Kolvar22PrefixEraseKeepsTheAssociation)
{
    Editing e;
    setRowText(e.g(), 2, sampleKolvar22);
    e.f.ui.SpinEdit1->setValue(2);
    e.f.ui.SpinEdit1->setValue(1);
    erase(e.f.ui.Edit2);
    EXPECT_EQ(rowText(e.g(), 2), QStringLiteral("******1055****083013001*1#"));
}

TEST(EditorFields, Kolvar1PrefixAndCode)
{
    Editing e(codec::Model::Kolvar1);
    const MainControls& ui = e.f.ui;
    ASSERT_EQ(ui.Edit2->text(), QStringLiteral("-------"));
    erase(ui.Edit2);
    EXPECT_EQ(rowText(e.g(), 2), QString(26, QLatin1Char('-'))); // empty prefix: empty association
    type(QStringLiteral("39"));
    focus(ui.Edit3);
    ui.Edit3->clear();
    type(QStringLiteral("41"));
    EXPECT_EQ(rowText(e.g(), 2), QStringLiteral("39*41#--------------------"));

    // The longer prefix leaves the code's cells until the code box is used.
    focus(ui.Edit2);
    type(QStringLiteral("1"));
    EXPECT_EQ(rowText(e.g(), 2), QStringLiteral("391*1#--------------------"));
    tab();
    ASSERT_EQ(QApplication::focusWidget(), ui.Edit3);
    EXPECT_EQ(rowText(e.g(), 2), QStringLiteral("391*41#-------------------"));

    // A key in the code box with no prefix fills the row with "*".
    ui.Edit2->clear();
    key(Qt::Key_Right);
    EXPECT_EQ(rowText(e.g(), 2), QString(26, QLatin1Char('*')));
}

TEST(EditorFields, TimeBoxes)
{
    Editing e;
    const MainControls& ui = e.f.ui;
    setRowText(e.g(), 2, sampleKolvar22);
    ui.SpinEdit1->setValue(2);
    ui.SpinEdit1->setValue(1);
    ASSERT_EQ(ui.Edit5->text(), QStringLiteral("0830"));

    focus(ui.Edit5);
    ui.Edit5->selectAll();
    type(QStringLiteral("2401"));
    EXPECT_TRUE(ui.Edit5->text().isEmpty());
    EXPECT_EQ(e.f.beeper.beeps, 1);
    EXPECT_EQ(rowText(e.g(), 2, 15, 18), QStringLiteral("****"));

    type(QStringLiteral("2400"));
    EXPECT_EQ(ui.Edit5->text(), QStringLiteral("2400"));
    EXPECT_EQ(rowText(e.g(), 2, 15, 18), QStringLiteral("2400"));
    type(QStringLiteral("5")); // a fifth digit does not go in
    EXPECT_EQ(ui.Edit5->text(), QStringLiteral("2400"));
    EXPECT_EQ(e.f.beeper.beeps, 1);

    erase(ui.Edit5);
    type(QStringLiteral("1299"));
    EXPECT_EQ(rowText(e.g(), 2, 15, 18), QStringLiteral("1299"));

    // A held key is released once: the releases its auto-repeat reports run no rule.
    ui.Edit5->setText(QStringLiteral("2401"));
    QKeyEvent repeated(QEvent::KeyRelease, Qt::Key_1, Qt::NoModifier, QStringLiteral("1"), true);
    QApplication::sendEvent(ui.Edit5, &repeated);
    EXPECT_EQ(ui.Edit5->text(), QStringLiteral("2401"));
    EXPECT_EQ(e.f.beeper.beeps, 1);
    QKeyEvent released(QEvent::KeyRelease, Qt::Key_1, Qt::NoModifier, QStringLiteral("1"), false);
    QApplication::sendEvent(ui.Edit5, &released);
    EXPECT_TRUE(ui.Edit5->text().isEmpty());
    EXPECT_EQ(e.f.beeper.beeps, 2);
    type(QStringLiteral("1299"));

    // The end box: letters are dropped with a beep, one digit leaves "?".
    focus(ui.Edit6);
    ui.Edit6->selectAll();
    type(QStringLiteral("a9"));
    EXPECT_EQ(ui.Edit6->text(), QStringLiteral("9"));
    EXPECT_EQ(e.f.beeper.beeps, 3);
    EXPECT_EQ(rowText(e.g(), 2, 19, 22), QStringLiteral("9???"));
    EXPECT_EQ(rowText(e.g(), 2, 23, 26), QStringLiteral("1*1#"));
}

TEST(EditorFields, TimeBoxHoldingDashesWritesNothing)
{
    Editing e;
    const MainControls& ui = e.f.ui;
    ASSERT_EQ(ui.Edit5->text(), QStringLiteral("----"));
    setRowText(e.g(), 2, QStringLiteral("0830"), 15); // what the box shows is not what the row holds
    focus(ui.Edit5);
    key(Qt::Key_Left);
    key(Qt::Key_Shift);
    EXPECT_EQ(ui.Edit5->text(), QStringLiteral("----"));
    EXPECT_EQ(rowText(e.g(), 2, 15, 18), QStringLiteral("0830"));
    EXPECT_EQ(e.f.beeper.beeps, 0);
}

TEST(EditorFields, DayTypeLineAndTheirButtons)
{
    Editing e;
    const MainControls& ui = e.f.ui;
    focus(ui.Edit8);
    type(QStringLiteral("Sem"));
    EXPECT_EQ(rowText(e.g(), 2, 23, 24), QStringLiteral("-*"));
    type(QStringLiteral("pre"));
    EXPECT_EQ(rowText(e.g(), 2, 23, 24), QStringLiteral("0*"));

    ui.Button8->click();
    EXPECT_EQ(ui.Edit8->text(), QStringLiteral("Festivo"));
    EXPECT_EQ(e.g().cell(23, 2), QStringLiteral("2"));
    ui.Button8->click();
    EXPECT_EQ(ui.Edit8->text(), QStringLiteral("Feriale"));
    EXPECT_EQ(e.g().cell(23, 2), QStringLiteral("1"));
    ui.Button8->click();
    EXPECT_EQ(ui.Edit8->text(), QStringLiteral("Sempre"));

    // A refused key types "0" in the line box.
    focus(ui.Edit9);
    type(QStringLiteral("5"));
    EXPECT_EQ(ui.Edit9->text(), QStringLiteral("0"));
    EXPECT_EQ(e.f.beeper.beeps, 1);
    EXPECT_EQ(rowText(e.g(), 2, 25, 26), QStringLiteral("0#"));
    ui.Edit9->selectAll();
    type(QStringLiteral("2"));
    EXPECT_EQ(e.g().cell(25, 2), QStringLiteral("2"));
}

TEST(EditorFields, LineButtonWithoutPrefixDeletesTheAssociation)
{
    Editing e;
    const MainControls& ui = e.f.ui;
    setRowText(e.g(), 3, sampleKolvar22);
    ui.SpinEdit1->setValue(2);
    ui.Edit2->clear();
    ui.Button7->click();
    EXPECT_EQ(e.f.beeper.beeps, 1);
    EXPECT_EQ(rowText(e.g(), 3), QString(26, QLatin1Char('-')));
    for (QLineEdit* box : { ui.Edit5, ui.Edit6, ui.Edit8, ui.Edit9 })
        EXPECT_TRUE(box->text().isEmpty()) << box->objectName().toStdString();
    EXPECT_EQ(ui.Edit3->text(), QStringLiteral("1055"));
}

TEST(EditorFields, HeaderBoxes)
{
    Editing e;
    const MainControls& ui = e.f.ui;
    TableGrid& g = e.g();

    ui.Button2->click();
    EXPECT_EQ(ui.Edit1->text(), QStringLiteral("Automatica"));
    EXPECT_EQ(rowText(g, 1, 2, 4), QStringLiteral("#A#"));
    ui.Button2->click();
    EXPECT_EQ(ui.Edit1->text(), QStringLiteral("Manuale"));
    EXPECT_EQ(g.cell(3, 1), QStringLiteral("M"));

    // Beep by the mouse on its check box, flash by the space bar.
    QListWidget* list = ui.CheckListBox1;
    const QRect beepRect = list->visualItemRect(list->item(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(beepRect.left() + beepRect.height() / 2, beepRect.center().y()));
    ASSERT_EQ(list->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(rowText(g, 1, 15, 16), QStringLiteral("B0"));
    focus(list);
    list->setCurrentRow(1);
    key(Qt::Key_Space);
    EXPECT_EQ(list->item(1)->checkState(), Qt::Checked);
    EXPECT_EQ(rowText(g, 1, 15, 16), QStringLiteral("BF"));
    // The program setting a check mark writes nothing.
    list->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(rowText(g, 1, 15, 16), QStringLiteral("BF"));

    focus(ui.Edit4);
    type(QStringLiteral("0461x"));
    EXPECT_EQ(ui.Edit4->text(), QStringLiteral("0461"));
    EXPECT_EQ(e.f.beeper.beeps, 1);
    EXPECT_EQ(rowText(g, 1, 5, 26), QStringLiteral("0461#-----BF----------"));
    type(QStringLiteral("123456"));
    EXPECT_EQ(ui.Edit4->text(), QStringLiteral("0461123")); // seven at most
    key(Qt::Key_Return);
    EXPECT_EQ(e.f.beeper.beeps, 1);

    // The clock box takes nothing.
    const QString clock = QStringLiteral("09:05  Mercoledi");
    ui.Edit7->setText(clock);
    focus(ui.Edit7);
    type(QStringLiteral("1a"));
    key(Qt::Key_Backspace);
    EXPECT_EQ(ui.Edit7->text(), clock);
    EXPECT_EQ(e.f.beeper.beeps, 4);

    // The port box takes any name; its button toggles the two ports.
    ui.Button3->click();
    EXPECT_EQ(ui.EditDevName->text(), QStringLiteral("Com1"));
    ui.Button3->click();
    EXPECT_EQ(ui.EditDevName->text(), QStringLiteral("Com2"));
    ui.EditDevName->setText(QStringLiteral("/dev/ttyUSB0"));
    ui.Button3->click();
    EXPECT_EQ(ui.EditDevName->text(), QStringLiteral("Com2"));
}

TEST(EditorFields, PasteShortcutCannotBringLettersIntoADigitBox)
{
    Editing e;
    const MainControls& ui = e.f.ui;
    QApplication::clipboard()->setText(QStringLiteral("abc"));
    erase(ui.Edit2);
    const int beeps = e.f.beeper.beeps;
    QTest::keyClick(ui.Edit2, Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(ui.Edit2->text().isEmpty());
    EXPECT_EQ(e.f.beeper.beeps, beeps + 1);
    EXPECT_EQ(rowText(e.g(), 2, 1, 6), QStringLiteral("******"));
}
