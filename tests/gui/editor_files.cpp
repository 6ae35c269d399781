// "Salva su File" and "Copia da file" in the window: the dialogs they ask,
// what they change (the grid and the model) and what they leave alone.

#include "tests/gui/editor_helpers.h"
#include "tests/common/TestFiles.h"

#include <QAction>
#include <QFile>
#include <QTemporaryDir>

using namespace editortest;

using namespace testfiles;

namespace {

// A Kolvar22 table as a read leaves it.
void fillKolvar22Table(TfrmMain& w)
{
    w.selectModel(codec::Model::Kolvar22);
    setRowText(w.grid(), 1, QStringLiteral("U#A#0461#-----B0----------"));
    for (int r = 2; r <= 128; r += 3)
        setRowText(w.grid(), r, sampleKolvar22);
    setRowText(w.grid(), 5, QStringLiteral("39****123#****------------"));
}


} // namespace

TEST(EditorFiles, SaveAndLoadBackAKolvar22Table)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("box.dat"));
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    fillKolvar22Table(w);
    const TableGrid saved = w.grid();

    f.dialogs.nextSave = path;
    ui.Button5->click();
    EXPECT_EQ(f.dialogs.filters, QStringList { QStringLiteral("Dat Files|*.dat|All Files|*.*") });
    EXPECT_EQ(f.dialogs.suffixes, QStringList { QStringLiteral("dat") });
    EXPECT_TRUE(f.dialogs.errors.isEmpty());
    EXPECT_TRUE(f.dialogs.shown.isEmpty());
    const QByteArray bytes = fileBytes(path);
    ASSERT_EQ(bytes.size(), 3584);
    EXPECT_EQ(bytes.left(28), QByteArray("U#A#0461#-----B0----------\r\n"));

    ui.ButtonReset->click();
    w.selectModel(codec::Model::Kolvar1);
    ASSERT_FALSE(w.grid().dataEquals(saved));

    f.dialogs.nextOpen = path;
    ui.Button6->click();
    EXPECT_TRUE(w.grid().dataEquals(saved));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnholtica Kolvar22 Programmer"));
    EXPECT_EQ(ui.Model1->text(), QStringLiteral("Kolvar22"));
    for (QWidget* c : ui.modelControls())
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_TRUE(f.dialogs.errors.isEmpty());
}

TEST(EditorFiles, LoadingAKolvar1FileDisablesTheLargeModelControls)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("y.dat"));
    writeFile(path, "Y#M#0461#-------------------\r\n39*41#--------------------\r\n");
    Fixture f;
    f.dialogs.nextOpen = path;
    f.ui.Button6->click();
    EXPECT_EQ(f.window.grid().cell(1, 1), QStringLiteral("Y"));
    EXPECT_EQ(f.window.windowTitle(), QStringLiteral("Varnholtica Kolvar1 Programmer"));
    for (QWidget* c : f.ui.modelControls())
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
}

TEST(EditorFiles, LoadingLeavesBoxesSelectorAndChecksAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fresh.dat"));
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;

    // A fresh table saved selects no model when loaded back.
    f.dialogs.nextSave = path;
    ui.Button5->click();
    ASSERT_EQ(fileBytes(path).size(), 3584);

    fillKolvar22Table(w);
    ui.Button2->click();
    ui.Edit4->setText(QStringLiteral("0461"));
    ui.CheckListBox1->item(0)->setCheckState(Qt::Checked);
    ui.SpinEdit1->setValue(4);
    const QStringList boxes { ui.Edit1->text(), ui.Edit2->text(), ui.Edit3->text(), ui.Edit4->text(),
                              ui.Edit5->text(), ui.Edit6->text(), ui.Edit8->text(), ui.Edit9->text() };
    ASSERT_EQ(ui.Edit3->text(), QStringLiteral("123#"));

    f.dialogs.nextOpen = path;
    ui.Button6->click();
    EXPECT_EQ(w.grid().cell(1, 1), QStringLiteral("-"));
    EXPECT_EQ(w.grid().cell(1, 5), QStringLiteral("-"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnholtica Kolvar22 Programmer"));
    EXPECT_EQ(ui.Model1->text(), QStringLiteral("Kolvar22"));
    EXPECT_EQ(ui.SpinEdit1->value(), 4);
    EXPECT_EQ((QStringList { ui.Edit1->text(), ui.Edit2->text(), ui.Edit3->text(), ui.Edit4->text(),
                             ui.Edit5->text(), ui.Edit6->text(), ui.Edit8->text(), ui.Edit9->text() }),
              boxes);
    EXPECT_EQ(ui.CheckListBox1->item(0)->checkState(), Qt::Checked);
}

TEST(EditorFiles, ShortFileLeavesCodeZeroAndSavesItBack)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ten.dat"));
    QByteArray ten = "U#A#0461#-----B0----------\r\n";
    for (int i = 2; i <= 10; ++i)
        ten += sampleKolvar22.toLatin1() + "\r\n";
    writeFile(path, ten);
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    f.dialogs.nextOpen = path;
    ui.Button6->click();
    EXPECT_EQ(rowText(w.grid(), 10), sampleKolvar22);
    EXPECT_EQ(w.grid().cell(26, 11), QString(QChar(0)));

    // Association 50 was not in the file: the boxes show nothing for it.
    ui.SpinEdit1->setValue(50);
    EXPECT_TRUE(ui.Edit2->text().isEmpty());
    EXPECT_TRUE(ui.Edit5->text().isEmpty());

    const QString again = dir.filePath(QStringLiteral("again.dat"));
    f.dialogs.nextSave = again;
    ui.Button5->click();
    const QByteArray bytes = fileBytes(again);
    ASSERT_EQ(bytes.size(), 3584);
    EXPECT_EQ(bytes.left(ten.size()), ten);
    QByteArray rest;
    for (int i = 11; i <= 128; ++i)
        rest += QByteArray(26, '\0') + "\r\n";
    EXPECT_EQ(bytes.mid(10 * 28), rest);
    EXPECT_TRUE(f.dialogs.shown.isEmpty());
}

TEST(EditorFiles, FailuresAreToldAndLeaveTheTable)
{
    QTemporaryDir dir;
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    fillKolvar22Table(w);
    const TableGrid before = w.grid();

    // A typo in the name: nothing is lost, and the operator learns why.
    f.dialogs.nextOpen = dir.filePath(QStringLiteral("missin.dat"));
    ui.Button6->click();
    EXPECT_TRUE(w.grid().dataEquals(before));
    ASSERT_EQ(f.dialogs.errors.size(), 1);
    EXPECT_TRUE(f.dialogs.errors[0].contains(QStringLiteral("missin.dat")));
    EXPECT_TRUE(f.dialogs.errors[0].contains(QStringLiteral("non esiste")));

    const QString nowhere = dir.filePath(QStringLiteral("gone/box.dat"));
    f.dialogs.nextSave = nowhere;
    ui.Button5->click();
    ASSERT_EQ(f.dialogs.errors.size(), 2);
    EXPECT_TRUE(f.dialogs.errors[1].contains(QStringLiteral("non è stata salvata")));
    EXPECT_FALSE(QFile::exists(nowhere));

    // Cancelled dialogs change nothing and say nothing.
    f.dialogs.nextOpen.clear();
    f.dialogs.nextSave.clear();
    ui.Button6->click();
    ui.Button5->click();
    EXPECT_TRUE(w.grid().dataEquals(before));
    EXPECT_EQ(f.dialogs.errors.size(), 2);
    EXPECT_TRUE(f.dialogs.shown.isEmpty());
}

TEST(EditorFiles, CellsThatAreNotOneByteAreNamedWhenSaved)
{
    QTemporaryDir dir;
    Fixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    w.grid().setCell(1, 13, QStringLiteral("12"));
    w.grid().setCell(24, 20, QString());
    f.dialogs.nextSave = dir.filePath(QStringLiteral("odd.dat"));
    ui.Button5->click();
    EXPECT_TRUE(f.dialogs.errors.isEmpty());
    ASSERT_EQ(f.dialogs.shown.size(), 1);
    EXPECT_TRUE(f.dialogs.shown[0].contains(QStringLiteral("associazioni 12, 19"))) << f.dialogs.shown[0].toStdString();
    EXPECT_EQ(fileBytes(f.dialogs.nextSave).size(), 3584);
}
