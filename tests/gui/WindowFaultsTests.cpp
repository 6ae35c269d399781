// The main window as an operator meets it: text pasted into the digit boxes,
// the association selector, receive events that complete no table, outside
// text in labels, the program's messages, the help, the toolkit's language
// and the end of the program. Controls are found by their names.

#include "tests/gui/FakeSeams.h"
#include "tests/gui/editor_helpers.h"

#include "widgets/TableGridView.h"
#include "tests/serial/PtyPair.h"
#include "widgets/ALed.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QTextBrowser>
#include <QTimer>

#include <array>
#include <memory>

namespace {

using editortest::erase;
using editortest::focus;
using editortest::key;
using editortest::showActive;
using editortest::type;

template <typename T>
T* child(QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// A grid cell as the operator sees it, (column, row) as the window names them.
QString cell(TfrmMain& window, int column, int row)
{
    const QAbstractItemModel* model = child<TableGridView>(window, "StringGrid1")->model();
    return model->index(row - 1, column - 1).data().toString();
}

QString rowText(TfrmMain& window, int row, int first, int last)
{
    QString text;
    for (int c = first; c <= last; ++c)
        text += cell(window, c, row);
    return text;
}

TApplication* app()
{
    return qobject_cast<TApplication*>(QCoreApplication::instance());
}

// Kolvar22 chosen from the window's popup menu, association 1 selected in the grid.
void chooseKolvar22(TfrmMain& window)
{
    child<QAction>(window, "Model1")->trigger();
    ASSERT_EQ(cell(window, 1, 1), QStringLiteral("U"));
    editortest::clickCell(child<TableGridView>(window, "StringGrid1"), 1, 3);
    editortest::clickCell(child<TableGridView>(window, "StringGrid1"), 1, 2);
    ASSERT_EQ(child<QSpinBox>(window, "SpinEdit1")->value(), 1);
}

// Right-clicks a box and picks "paste" in the menu that opens.
void pasteFromContextMenu(QLineEdit* box)
{
    // What the window system makes of a right click on the box.
    const QPoint at = box->rect().center();
    QContextMenuEvent request(QContextMenuEvent::Mouse, at, box->mapToGlobal(at));
    QApplication::sendEvent(box, &request);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr) << "no context menu on " << box->objectName().toStdString();
    QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"));
    ASSERT_NE(paste, nullptr);
    ASSERT_TRUE(paste->isEnabled());
    paste->trigger();
    menu->close();
}

} // namespace

TEST(WindowPaste, OnlyWhatTheKeyFilterLetsThroughIsPasted)
{
    Fixture f;
    TfrmMain& w = f.window;
    showActive(w);
    chooseKolvar22(w);
    auto* prefix = child<QLineEdit>(w, "Edit2");
    auto* clock = child<QLineEdit>(w, "Edit7");
    auto* line = child<QLineEdit>(w, "Edit9");
    ASSERT_EQ(prefix->text(), QStringLiteral("------")) << "an empty association shows its dashes";
    erase(prefix);
    ASSERT_EQ(rowText(w, 2, 1, 6), QStringLiteral("******"));
    const int beeps = f.beeper.beeps;

    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("3a9"));
    focus(prefix);
    QTest::keyClick(prefix, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(prefix->text(), QString());
    pasteFromContextMenu(prefix);
    EXPECT_EQ(prefix->text(), QString());
    EXPECT_EQ(f.beeper.beeps, beeps + 2) << "a refused paste beeps like a refused key";
    EXPECT_EQ(rowText(w, 2, 1, 6), QStringLiteral("******"));

    // Digits go in, and the grid follows at once, with no key released in the box.
    clipboard->setText(QStringLiteral("39"));
    pasteFromContextMenu(prefix);
    EXPECT_EQ(prefix->text(), QStringLiteral("39"));
    EXPECT_EQ(rowText(w, 2, 1, 6), QStringLiteral("39****"));
    // More than the box takes: nothing of it.
    clipboard->setText(QStringLiteral("1234"));
    focus(prefix);
    QTest::keyClick(prefix, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(prefix->text(), QStringLiteral("39"));
    EXPECT_EQ(f.beeper.beeps, beeps + 3);

    clipboard->setText(QStringLiteral("12"));
    clock->setText(QString());
    focus(clock);
    QTest::keyClick(clock, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(clock->text(), QString()) << "the clock box takes nothing";

    clipboard->setText(QStringLiteral("x"));
    focus(line);
    QTest::keyClick(line, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(line->text(), QString());
    clipboard->setText(QStringLiteral("2"));
    pasteFromContextMenu(line);
    EXPECT_EQ(line->text(), QStringLiteral("2"));
    EXPECT_EQ(cell(w, 25, 2), QStringLiteral("2"));
    EXPECT_EQ(cell(w, 26, 2), QStringLiteral("#"));
    EXPECT_FALSE(prefix->acceptDrops()) << "text dropped on a digit box would skip the filter";
}

TEST(WindowSelector, NumbersOutsideTheTableAreClampedAndTheBoxesFollow)
{
    Fixture f;
    TfrmMain& w = f.window;
    showActive(w);
    chooseKolvar22(w);
    auto* selector = child<QSpinBox>(w, "SpinEdit1");
    auto* prefix = child<QLineEdit>(w, "Edit2");
    auto selectTyped = [&](const char* number) {
        focus(selector);
        selector->selectAll();
        type(QString::fromLatin1(number));
        key(Qt::Key_Return);
    };

    selectTyped("127");
    ASSERT_EQ(selector->value(), 127);
    erase(prefix);
    type(QStringLiteral("44"));
    ASSERT_EQ(rowText(w, 128, 1, 6), QStringLiteral("44****"));

    selectTyped("5");
    ASSERT_EQ(prefix->text(), QStringLiteral("------"));
    selectTyped("150");
    EXPECT_EQ(selector->value(), 127);
    EXPECT_EQ(selector->text(), QStringLiteral("127"));
    EXPECT_EQ(prefix->text(), QStringLiteral("44"));

    selectTyped("0");
    EXPECT_EQ(selector->value(), 1);
    EXPECT_EQ(selector->text(), QStringLiteral("1"));
    EXPECT_EQ(prefix->text(), QStringLiteral("------"));
}

namespace {

// The window reading from a far end the test plays on a pseudo-terminal.
struct LineFixture : Fixture
{
    LineFixture()
    {
        EXPECT_TRUE(line.ok());
        child<QLineEdit>(window, "EditDevName")->setText(line.path);
        led = child<TALed>(window, "ALed1");
    }
    void pressRead() { QTest::mouseClick(child<QPushButton>(window, "ButtonTransmit"), Qt::LeftButton); }
    bool waitIdle()
    {
        return QTest::qWaitFor([&] { return led->FalseColor() == clGreen; }, 30000);
    }

    PtyPair line;
    TALed* led = nullptr;
};

QByteArray kolvar22Image(const char deviceText[17])
{
    std::array<char, 2067> b {};
    const char header[16] = { 'U', 12, 0, 12, 10, 4, 6, 1, 12, 0, 0, 0, 0, 0, 1, 0 };
    std::copy(std::begin(header), std::end(header), b.begin());
    std::copy(deviceText, deviceText + 16, b.begin() + 2051);
    return QByteArray(b.data(), int(b.size()));
}

} // namespace

TEST(WindowReceive, EventsThatCompleteNoTableKeepTheManagementSetting)
{
    LineFixture f;
    TfrmMain& w = f.window;
    QTest::mouseClick(child<QPushButton>(w, "Button2"), Qt::LeftButton);
    ASSERT_EQ(child<QLineEdit>(w, "Edit1")->text(), QStringLiteral("Automatica"));
    ASSERT_EQ(cell(w, 3, 1), QStringLiteral("A"));

    // A remote write answered.
    f.pressRead();
    EXPECT_EQ(f.led->accessibleDescription(), QStringLiteral("Collegamento occupato"));
    ASSERT_TRUE(f.line.send(QByteArray("\x02\x03\x07", 3)));
    ASSERT_TRUE(f.waitIdle());
    EXPECT_EQ(f.led->accessibleDescription(), QStringLiteral("Collegamento libero"));
    EXPECT_EQ(cell(w, 3, 1), QStringLiteral("A"));
    EXPECT_EQ(child<QLineEdit>(w, "Edit1")->text(), QString()) << "the header boxes are still emptied";

    // A table cut short.
    f.pressRead();
    ASSERT_TRUE(f.line.send(kolvar22Image("CUT SHORT       ").left(100)));
    auto* progress = child<QProgressBar>(w, "ProgressBar1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return progress->value() == 100; }, 20000));
    EXPECT_EQ(cell(w, 3, 1), QStringLiteral("A"));
    QTest::mouseClick(child<QPushButton>(w, "Button1"), Qt::LeftButton);
}

TEST(WindowReceive, AFullTableSetsTheManagementAndShowsTheDeviceTextAsItStands)
{
    LineFixture f;
    TfrmMain& w = f.window;
    QTest::mouseClick(child<QPushButton>(w, "Button2"), Qt::LeftButton);
    ASSERT_EQ(cell(w, 3, 1), QStringLiteral("A"));
    f.pressRead();
    const char text[] = "<b>AB</b> &amp; ";
    ASSERT_TRUE(f.line.send(kolvar22Image(text)));
    ASSERT_TRUE(f.waitIdle());
    // The box says manual: the rule runs as ever.
    EXPECT_EQ(child<QLineEdit>(w, "Edit1")->text(), QStringLiteral("Manuale"));
    EXPECT_EQ(cell(w, 3, 1), QStringLiteral("M"));

    auto* label = child<QLabel>(w, "Label11");
    EXPECT_EQ(label->text(), QString::fromLatin1(text));
    // Shown as markup, the tags would vanish and "AB & " would need far less room.
    const int shownWidth = QFontMetrics(label->font()).horizontalAdvance(QString::fromLatin1(text).trimmed());
    EXPECT_GE(label->sizeHint().width(), shownWidth);
}

TEST(WindowMessages, TheProgramsOwnMendsArePlainMessages)
{
    RealDialogs dialogs;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QString title;
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        icon = box->icon();
        title = box->windowTitle();
        shown = box->text();
        box->accept();
    });
    dialogs.error(nullptr, QStringLiteral("Il file non si può salvare."));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(title, QStringLiteral("Pradix"));
    EXPECT_EQ(shown, QStringLiteral("Il file non si può salvare."));
}

// Enter alone answers the question's default: Yes for the everyday ones, No
// where Yes cannot be taken back.
TEST(WindowMessages, EnterAnswersYesOnlyWhereYesCanBeTakenBack)
{
    RealDialogs dialogs;
    const auto pressEnter = [] {
        QTimer::singleShot(0, [] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            QTest::keyClick(box, Qt::Key_Return);
        });
    };
    pressEnter();
    EXPECT_TRUE(dialogs.question(nullptr, QStringLiteral("Salvare la scheda?")));
    pressEnter();
    EXPECT_FALSE(dialogs.cautiousQuestion(nullptr, QStringLiteral("Ripristinare la tabella?")));
}

TEST(WindowToolkit, ToolkitTextsAreItalian)
{
    const QString qm = QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath)).filePath(QStringLiteral("qtbase_it.qm"));
    if (!QFile::exists(qm))
        GTEST_SKIP() << "the toolkit's Italian translations are not installed: " << qm.toStdString();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QString::fromUtf8("&Sì"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&No"), QStringLiteral("&No"));

    QLineEdit box;
    const std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
    QStringList captions;
    for (const QAction* action : menu->actions())
        captions << action->text().section(QLatin1Char('\t'), 0, 0);
    EXPECT_TRUE(captions.contains(QStringLiteral("&Incolla"))) << captions.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(captions.contains(QStringLiteral("&Copia"))) << captions.join(QLatin1Char(' ')).toStdString();
}

TEST(WindowHelp, F1OnAControlWithoutATopicShowsTheWindowsTopic)
{
    Fixture f;
    TfrmMain& w = f.window;
    showActive(w);
    for (const char* name : { "Button1", "ButtonTransmit", "Button3" }) {
        auto* button = child<QPushButton>(w, name);
        focus(button);
        QTest::keyClick(button, Qt::Key_F1);
        ASSERT_NE(app()->helpViewer(), nullptr);
        EXPECT_EQ(app()->helpViewer()->currentContext(), 200) << name;
        app()->helpViewer()->close();
    }
    auto* text = app()->helpViewer()->findChild<QTextBrowser*>(QStringLiteral("HelpText"));
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("\"Stop\""))) << text->toPlainText().toStdString();

    // A control with its own topic keeps it.
    auto* prefix = child<QLineEdit>(w, "Edit2");
    focus(prefix);
    QTest::keyClick(prefix, Qt::Key_F1);
    EXPECT_EQ(app()->helpViewer()->currentContext(), 6);
    app()->helpViewer()->close();
}

TEST(WindowHelp, AMissingHelpFileIsReportedWithWhereItWasLookedFor)
{
    Fixture f;
    TfrmMain& w = f.window;
    showActive(w);
    if (app()->helpViewer())
        app()->helpViewer()->close();
    app()->setHelpFile(QStringLiteral("Assente.hlp"));
    auto* stop = child<QPushButton>(w, "Button1");
    focus(stop);
    QTest::keyClick(stop, Qt::Key_F1);
    app()->setHelpFile(QStringLiteral("Pradix.hlp"));

    ASSERT_EQ(f.dialogs.shown.size(), 1);
    EXPECT_TRUE(f.dialogs.shown[0].contains(QStringLiteral("Assente.hlp")));
    EXPECT_TRUE(f.dialogs.shown[0].contains(QDir::cleanPath(QCoreApplication::applicationDirPath())))
        << f.dialogs.shown[0].toStdString();
    EXPECT_TRUE(!app()->helpViewer() || !app()->helpViewer()->isVisible()) << "no empty help window";
}

TEST(WindowLifetime, ClosingTheMainWindowEndsTheProgramWithTheHelpOpen)
{
    Fixture f;
    TfrmMain& w = f.window;
    app()->setMainWindow(&w);
    w.show();
    f.form2.show();
    QTimer::singleShot(0, [&] {
        app()->showHelp(2);
        w.close();
    });
    // Only a guard against a program that would never end.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(30000);
    const int status = QCoreApplication::exec();
    guard.stop();
    app()->setMainWindow(nullptr);
    EXPECT_EQ(status, 0) << "the program went on after its main window closed";
}

// On a real X display (run under Xvfb by the test command): what the window
// manager is told and what the middle mouse button pastes.
namespace {

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

QString windowNameOnDisplay(QWidget& window)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                { QStringLiteral("-id"), QString::number(window.winId()), QStringLiteral("_NET_WM_NAME") });
    if (!xprop.waitForFinished(20000))
        return QStringLiteral("(xprop did not answer)");
    // _NET_WM_NAME(UTF8_STRING) = "caption"
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const int from = out.indexOf(QLatin1Char('"'));
    return from < 0 ? out : out.mid(from + 1).chopped(1);
}

} // namespace

TEST(OnScreen, WindowTitlesAreTheCaptions)
{
    if (!onX11())
        GTEST_SKIP() << "needs an X display (the test command runs it under Xvfb)";
    Fixture f;
    f.window.show();
    f.form2.show();
    app()->showHelp(6);
    for (QWidget* window : std::initializer_list<QWidget*> { &f.window, &f.form2, app()->helpViewer() })
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QApplication::sync();
    EXPECT_EQ(windowNameOnDisplay(f.window), QStringLiteral("Varnholtica Kolvar22 Programmer"));
    EXPECT_EQ(windowNameOnDisplay(f.form2), QStringLiteral("Rubrica"));
    EXPECT_EQ(windowNameOnDisplay(*app()->helpViewer()), QStringLiteral("Guida di Pradix"));
    app()->helpViewer()->close();
}

TEST(OnScreen, TheMiddleButtonPastesOnlyWhatTheKeyFilterLetsThrough)
{
    if (!onX11())
        GTEST_SKIP() << "needs an X display (the test command runs it under Xvfb)";
    Fixture f;
    TfrmMain& w = f.window;
    showActive(w);
    chooseKolvar22(w);
    auto* code = child<QLineEdit>(w, "Edit3");
    erase(code);
    const int beeps = f.beeper.beeps;
    QClipboard* clipboard = QGuiApplication::clipboard();
    ASSERT_TRUE(clipboard->supportsSelection());

    clipboard->setText(QStringLiteral("10x5"), QClipboard::Selection);
    QTest::mouseClick(code, Qt::MiddleButton, Qt::NoModifier, code->rect().center());
    EXPECT_EQ(code->text(), QString());
    EXPECT_EQ(f.beeper.beeps, beeps + 1);

    clipboard->setText(QStringLiteral("1055"), QClipboard::Selection);
    QTest::mouseClick(code, Qt::MiddleButton, Qt::NoModifier, code->rect().center());
    EXPECT_EQ(code->text(), QStringLiteral("1055"));
    EXPECT_EQ(rowText(w, 2, 7, 14), QStringLiteral("1055****"));
}
