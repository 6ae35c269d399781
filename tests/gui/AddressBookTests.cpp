// The address book window as the operator uses it: the real windows, real
// key events, RUBRICA.DAT in a folder of the test's own.

#include "tests/gui/FakeSeams.h"
#include "tests/common/TestFiles.h"

#include "BoxSim.h"
#include "book/CustomerCard.h"
#include "widgets/TableGridView.h"
#include "widgets/ALed.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace testfiles;

namespace {

const QString Book = QStringLiteral("RUBRICA.DAT");
const QString SavePrompt = QStringLiteral(" La scheda modificata va salvata?");
const QString StartOfFile = QStringLiteral("Questo è l'inizio del file");
const QString EndOfFile = QStringLiteral("Questa è la fine del file");
using Field = CustomerCard::Field;

struct BookUi
{
    explicit BookUi(const QObject& w)
        : Ecognome(control<QLineEdit>(w, "Ecognome"))
        , Enome(control<QLineEdit>(w, "Enome"))
        , Edit1(control<QLineEdit>(w, "Edit1"))
        , Enumero(control<QLineEdit>(w, "Enumero"))
        , Edit8(control<QLineEdit>(w, "Edit8"))
        , Eindirizzo(control<QLineEdit>(w, "Eindirizzo"))
        , Ecitta(control<QLineEdit>(w, "Ecitta"))
        , Eprovincia(control<QLineEdit>(w, "Eprovincia"))
        , Ecap(control<QLineEdit>(w, "Ecap"))
        , Bprecedente(control<QPushButton>(w, "Bprecedente"))
        , Bsuccessivo(control<QPushButton>(w, "Bsuccessivo"))
        , Bsalva(control<QPushButton>(w, "Bsalva"))
        , Bnuovo(control<QPushButton>(w, "Bnuovo"))
        , Bordina(control<QPushButton>(w, "Bordina"))
        , Bcomponi(control<QPushButton>(w, "Bcomponi"))
        , Button3(control<QPushButton>(w, "Button3"))
        , Button1(control<QPushButton>(w, "Button1"))
        , Button2(control<QPushButton>(w, "Button2"))
        , Button4(control<QPushButton>(w, "Button4"))
        , Besci(control<QPushButton>(w, "Besci"))
        , StringGrid2(control<TableGridView>(w, "StringGrid2"))
        , Label9(control<QLabel>(w, "Label9"))
    {
    }

    QList<QLineEdit*> cardEdits() const { return { Enome, Ecognome, Enumero, Eindirizzo, Ecitta, Eprovincia, Ecap }; }

    QLineEdit *Ecognome, *Enome, *Edit1, *Enumero, *Edit8, *Eindirizzo, *Ecitta, *Eprovincia, *Ecap;
    QPushButton *Bprecedente, *Bsuccessivo, *Bsalva, *Bnuovo, *Bordina, *Bcomponi, *Button3, *Button1, *Button2,
        *Button4, *Besci;
    TableGridView* StringGrid2;
    QLabel* Label9;
};

CustomerCard card(const QString& surname, const QString& name = QString(), char summary = '5')
{
    CustomerCard c;
    c.setText(Field::Cognome, surname);
    c.setText(Field::Nome, name);
    for (int r = 1; r <= CustomerCard::SummaryRows; ++r)
        for (int col = 1; col <= CustomerCard::SummaryColumns; ++col)
            c.setSummaryByte(col, r, std::uint8_t(summary));
    c.setSummaryByte(1, 1, 'U'); // a Kolvar22's table
    return c;
}

void writeBook(const std::vector<CustomerCard>& cards)
{
    QFile file(Book);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    for (const CustomerCard& c : cards)
        ASSERT_EQ(file.write(reinterpret_cast<const char*>(c.data()), CustomerCard::Size), CustomerCard::Size);
}

QByteArray bookBytes()
{
    QFile file(Book);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::vector<CustomerCard> readBook()
{
    const QByteArray bytes = bookBytes();
    std::vector<CustomerCard> cards(size_t(bytes.size() / CustomerCard::Size));
    for (size_t i = 0; i < cards.size(); ++i)
        std::memcpy(cards[i].data(), bytes.constData() + i * CustomerCard::Size, CustomerCard::Size);
    return cards;
}

QStringList surnames()
{
    QStringList names;
    for (const CustomerCard& c : readBook())
        names << c.text(Field::Cognome);
    return names;
}

// The windows as start-up builds them, with the dialogs a test chooses.
template <typename DialogsType>
struct Windows : BasicFixture<DialogsType>
{
    using Base = BasicFixture<DialogsType>;
    using Base::dialogs;
    using Base::window;
    using Base::form2;
    using Base::ui;

    Windows()
    {
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    // "Utente" in the main window, and the desktop's activation that follows.
    void openBook()
    {
        QTest::mouseClick(ui.Button10, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form2));
    }
    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    // One press and release per character, as the keyboard sends them
    // (a Latin-1 letter such as è has a key of its own).
    void type(QLineEdit* box, const QString& text)
    {
        for (QChar c : text) {
            if (c.unicode() < 0x80)
                QTest::keyClick(box, char(c.unicode()));
            else
                QTest::sendKeyEvent(QTest::Click, box, Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
        }
    }
    int prompts() const { return int(dialogs.shown.count(SavePrompt)); }

    const BookUi b { form2 };
};
using BookFixture = Windows<FakeDialogs>;

} // namespace

TEST(AddressBook, WindowHasItsControlsInOrder)
{
    BookFixture f;
    EXPECT_EQ(f.form2.windowTitle(), QStringLiteral("Rubrica"));
    EXPECT_EQ(f.form2.size(), QSize(610, 380));
    EXPECT_FALSE(f.form2.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(f.b.Edit8->isEnabled());
    EXPECT_EQ(f.b.Label9->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_EQ(f.b.Label9->textFormat(), Qt::PlainText);
    EXPECT_EQ(f.b.Bcomponi->text(), QStringLiteral("Chiama"));
    EXPECT_TRUE(f.b.Bcomponi->font().underline());
    EXPECT_EQ(f.b.Ecap->maxLength(), 5);

    // Tab from the surname runs through the window as the operator expects;
    // the disabled card number is passed over.
    f.openBook();
    const QList<QWidget*> order { f.b.Ecognome, f.b.Enome, f.b.Enumero, f.b.Eindirizzo, f.b.Ecitta,
                                  f.b.Eprovincia, f.b.Ecap, f.b.Bprecedente, f.b.Bsuccessivo, f.b.Bsalva,
                                  f.b.Bnuovo, f.b.Bordina, f.b.Button2, f.b.Besci, f.b.Bcomponi,
                                  f.b.StringGrid2, f.b.Button3, f.b.Button4, f.b.Button1, f.b.Edit1 };
    ASSERT_EQ(QApplication::focusWidget(), f.b.Ecognome);
    for (int i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), order[i]) << i;
    }
    // On screen: the card rows, the buttons, the grid, the remote buttons, the status line.
    EXPECT_LT(f.b.Ecognome->y(), f.b.Eindirizzo->y());
    EXPECT_LT(f.b.Eindirizzo->y(), f.b.Bprecedente->y());
    EXPECT_LT(f.b.Bprecedente->geometry().bottom(), f.b.StringGrid2->y());
    EXPECT_LT(f.b.StringGrid2->geometry().bottom(), f.b.Bcomponi->y());
    EXPECT_LT(f.b.Besci->geometry().bottom(), f.b.Label9->y());
    EXPECT_LE(f.b.Label9->geometry().bottom(), 380);
}

TEST(AddressBook, NewBookIsCreatedShownAndWalkedCardByCard)
{
    BookFixture f;
    ASSERT_TRUE(f.folder.ok());
    ASSERT_FALSE(QFile::exists(Book));
    f.openBook();
    ASSERT_TRUE(QFile::exists(Book));
    EXPECT_EQ(QFile(Book).size(), 0);

    // Both ends of an empty book.
    f.click(f.b.Bprecedente);
    f.click(f.b.Bsuccessivo);
    EXPECT_EQ(f.dialogs.shown, (QStringList { StartOfFile, EndOfFile }));
    EXPECT_EQ(f.form2.currentCard(), 0);

    f.type(f.b.Ecognome, QStringLiteral("rossi è"));
    f.type(f.b.Enome, QStringLiteral("abcdefghijklmnopqrstuvwxy"));
    f.type(f.b.Enumero, QStringLiteral("0212345678"));
    f.type(f.b.Ecap, QStringLiteral("20100"));
    EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("ROSSI è"));
    EXPECT_TRUE(f.form2.cardModified());
    f.window.grid().setCell(3, 5, QStringLiteral("7x"));
    f.window.grid().setCell(4, 5, QString());
    f.click(f.b.Bsalva);
    EXPECT_TRUE(f.dialogs.errors.isEmpty()) << f.dialogs.errors.join('\n').toStdString();
    EXPECT_EQ(QFile(Book).size(), CustomerCard::Size);
    EXPECT_FALSE(f.form2.cardModified());
    EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("1"));
    EXPECT_EQ(f.b.Enome->text(), QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
    const QByteArray bytes = bookBytes();
    EXPECT_EQ(bytes.mid(21, 8), QByteArray("\x07ROSSI \xE8", 8));
    EXPECT_EQ(std::uint8_t(bytes[0]), 20);
    EXPECT_EQ(bytes.mid(120, 6), QByteArray("\x05" "20100"));
    EXPECT_EQ(readBook()[0].summaryByte(3, 5), '7');
    EXPECT_EQ(readBook()[0].summaryByte(4, 5), 0);
    EXPECT_EQ(readBook()[0].summaryByte(1, 1), '-');

    // "Nuovo" twice shows the same number; the save lands right after the last card.
    f.click(f.b.Bnuovo);
    EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("2"));
    for (QLineEdit* box : f.b.cardEdits())
        EXPECT_TRUE(box->text().isEmpty()) << box->objectName().toStdString();
    f.click(f.b.Bnuovo);
    EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("2"));
    f.type(f.b.Ecognome, QStringLiteral("bianchi"));
    f.window.grid().setCell(3, 5, QStringLiteral("2"));
    f.click(f.b.Bsalva);
    EXPECT_EQ(surnames(), (QStringList { "ROSSI è", "BIANCHI" }));

    // The last card stays on screen at the end; the first shows its own summary.
    f.click(f.b.Bsuccessivo);
    EXPECT_EQ(f.dialogs.shown.last(), EndOfFile);
    EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("BIANCHI"));
    EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("2"));
    f.click(f.b.Bprecedente);
    EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("ROSSI è"));
    EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("1"));
    EXPECT_EQ(f.form2.summary().cell(3, 5), QStringLiteral("7"));
    EXPECT_EQ(f.form2.summary().cell(4, 5), QString(QChar(0)));
    EXPECT_EQ(f.dialogs.shown.count(StartOfFile), 1);
    f.click(f.b.Bprecedente);
    EXPECT_EQ(f.dialogs.shown.last(), StartOfFile);
    EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("ROSSI è"));
    EXPECT_EQ(f.prompts(), 0);
}

TEST(AddressBook, SavePromptAnswersForEveryButton)
{
    BookFixture f;
    writeBook({ card("AAA", "1"), card("BBB", "2"), card("CCC", "3") });
    f.openBook();
    ASSERT_EQ(f.b.Ecognome->text(), QStringLiteral("AAA"));

    // "Successivo", No: the typing goes, the next card comes.
    f.type(f.b.Enome, QStringLiteral("x"));
    f.dialogs.answerYes = false;
    f.click(f.b.Bsuccessivo);
    EXPECT_EQ(f.prompts(), 1);
    EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("BBB"));
    EXPECT_EQ(readBook()[0].text(Field::Nome), QStringLiteral("1"));

    // "Precedente", Yes: saved, then moved.
    f.type(f.b.Enome, QStringLiteral("y"));
    f.dialogs.answerYes = true;
    f.click(f.b.Bprecedente);
    EXPECT_EQ(f.prompts(), 2);
    EXPECT_EQ(readBook()[1].text(Field::Nome), QStringLiteral("Y2"));
    EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("AAA"));

    // "Precedente", No, at the start: the prompt is answered once, not again.
    f.type(f.b.Enome, QStringLiteral("z"));
    f.dialogs.answerYes = false;
    f.click(f.b.Bprecedente);
    f.click(f.b.Bprecedente);
    EXPECT_EQ(f.prompts(), 3);
    EXPECT_EQ(f.dialogs.shown.count(StartOfFile), 2);

    // "Nuovo", Yes: saves only; the next press begins the new card.
    f.type(f.b.Enome, QStringLiteral("w"));
    f.dialogs.answerYes = true;
    f.click(f.b.Bnuovo);
    EXPECT_EQ(f.prompts(), 4);
    EXPECT_EQ(readBook()[0].text(Field::Nome), QStringLiteral("ZW1"));
    EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("1"));
    EXPECT_FALSE(f.form2.newCardPending());
    f.click(f.b.Bnuovo);
    EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("4"));
    EXPECT_TRUE(f.form2.newCardPending());

    // "Nuovo", No: nothing written, a new card begun again.
    f.type(f.b.Ecognome, QStringLiteral("ddd"));
    f.dialogs.answerYes = false;
    f.click(f.b.Bnuovo);
    EXPECT_EQ(f.prompts(), 5);
    EXPECT_EQ(readBook().size(), 3u);
    EXPECT_TRUE(f.b.Ecognome->text().isEmpty());

    // "Ordina", Yes: saves the new card only, no sort.
    f.type(f.b.Ecognome, QStringLiteral("aab"));
    f.dialogs.answerYes = true;
    f.click(f.b.Bordina);
    EXPECT_EQ(f.prompts(), 6);
    EXPECT_EQ(surnames(), (QStringList { "AAA", "BBB", "CCC", "AAB" }));

    // "Ordina", No: the typing goes, the book is sorted.
    f.type(f.b.Enome, QStringLiteral("q"));
    f.dialogs.answerYes = false;
    f.click(f.b.Bordina);
    EXPECT_EQ(f.prompts(), 7);
    EXPECT_EQ(surnames(), (QStringList { "AAA", "AAB", "BBB", "CCC" }));
    EXPECT_EQ(readBook()[1].text(Field::Nome), QString());
    EXPECT_TRUE(f.dialogs.errors.isEmpty());
}

TEST(AddressBook, NewCardThenEsciGoesBackToTheLastCard)
{
    {
        BookFixture f;
        writeBook({ card("A"), card("B"), card("C"), card("D"), card("E") });
        f.openBook();
        f.click(f.b.Bnuovo);
        EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("6"));
        f.click(f.b.Besci);
        EXPECT_FALSE(f.form2.isVisible());
        EXPECT_EQ(f.form2.currentCard(), 4);
        f.openBook();
        EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("E"));
        EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("5"));
    }
    {
        BookFixture f;
        f.openBook();
        f.click(f.b.Bnuovo);
        EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("1"));
        f.click(f.b.Besci);
        EXPECT_EQ(f.form2.currentCard(), 0);
        f.openBook();
        f.type(f.b.Ecognome, QStringLiteral("x"));
        f.click(f.b.Bsalva);
        EXPECT_EQ(surnames(), QStringList { "X" });
    }
}

TEST(AddressBook, SortDropsEmptySurnamesAndKeepsEqualOnesInOrder)
{
    BookFixture f;
    writeBook({ card("BBB", "1"), card(""), card("AAA"), card("BBB", "2") });
    f.openBook();
    // A card without surname is deleted by the sort, never without asking.
    f.dialogs.answerYes = false;
    f.click(f.b.Bordina);
    EXPECT_EQ(f.dialogs.shown,
              QStringList { QStringLiteral("Una scheda senza cognome sarà cancellata. Ordinare comunque?") });
    EXPECT_EQ(surnames(), (QStringList { "BBB", "", "AAA", "BBB" }));
    EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("BBB"));
    f.dialogs.answerYes = true;
    f.click(f.b.Bordina);
    const std::vector<CustomerCard> sorted = readBook();
    ASSERT_EQ(sorted.size(), 3u);
    EXPECT_EQ(surnames(), (QStringList { "AAA", "BBB", "BBB" }));
    EXPECT_EQ(sorted[1].text(Field::Nome), QStringLiteral("1"));
    EXPECT_EQ(sorted[2].text(Field::Nome), QStringLiteral("2"));
    EXPECT_EQ(f.form2.currentCard(), 3);
    for (QLineEdit* box : f.b.cardEdits())
        EXPECT_TRUE(box->text().isEmpty());
    EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("1"));
    EXPECT_TRUE(f.dialogs.errors.isEmpty());
}

// "Salva" stores the main window's table, not the summary shown: the
// summary then shows what the card holds.
TEST(AddressBook, AfterSalvaTheSummaryShowsWhatTheCardHolds)
{
    BookFixture f;
    writeBook({ card("AAA", "", '5'), card("BBB", "", '6') });
    f.openBook();
    f.click(f.b.Bsuccessivo);
    ASSERT_EQ(f.form2.summary().cell(2, 2), QStringLiteral("6"));
    ASSERT_FALSE(f.form2.summary().dataEquals(f.window.grid()));
    // Escape types nothing, but counts as typing in the name boxes.
    QTest::keyClick(f.b.Ecognome, Qt::Key_Escape);
    EXPECT_TRUE(f.form2.cardModified());
    f.click(f.b.Bsalva);
    EXPECT_TRUE(f.form2.summary().dataEquals(f.window.grid()));
    const TableGrid stored = f.form2.summary();
    f.click(f.b.Bprecedente);
    f.click(f.b.Bsuccessivo);
    EXPECT_TRUE(f.form2.summary().dataEquals(stored));
    EXPECT_EQ(f.form2.summary().cell(2, 2), f.window.grid().cell(2, 2));
}

TEST(AddressBook, BoxesTakeOnlyWhatTheCardCanHoldHoweverTheTextComes)
{
    BookFixture f;
    f.openBook();
    f.type(f.b.Edit1, QStringLiteral("9x8"));
    EXPECT_EQ(f.b.Edit1->text(), QStringLiteral("98"));
    EXPECT_EQ(f.beeper.beeps, 1);
    EXPECT_FALSE(f.form2.cardModified()); // the line prefix is no part of the card

    f.type(f.b.Enumero, QStringLiteral("12a3"));
    f.type(f.b.Ecap, QStringLiteral("2b0100"));
    EXPECT_EQ(f.b.Enumero->text(), QStringLiteral("123"));
    EXPECT_EQ(f.b.Ecap->text(), QStringLiteral("20100"));
    EXPECT_EQ(f.beeper.beeps, 3);
    EXPECT_TRUE(f.form2.cardModified());

    // Pasting by the menu or the shortcut is judged as a whole.
    QGuiApplication::clipboard()->setText(QStringLiteral("55a"));
    f.b.Enumero->paste();
    QTest::keyClick(f.b.Enumero, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(f.b.Enumero->text(), QStringLiteral("123"));
    EXPECT_EQ(f.beeper.beeps, 5);
    QGuiApplication::clipboard()->setText(QStringLiteral("45"));
    QTest::keyClick(f.b.Enumero, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(f.b.Enumero->text(), QStringLiteral("12345"));

    // Other fields take anything; a paste marks the card as changed too.
    f.click(f.b.Bsalva);
    ASSERT_FALSE(f.form2.cardModified());
    QGuiApplication::clipboard()->setText(QStringLiteral("Via Roma, 1"));
    f.b.Eindirizzo->paste();
    EXPECT_EQ(f.b.Eindirizzo->text(), QStringLiteral("Via Roma, 1"));
    EXPECT_TRUE(f.form2.cardModified());
    EXPECT_EQ(f.beeper.beeps, 5);

    // A character the card's code page has no byte for is refused as it is
    // typed or pasted, never stored as "?"; accented Italian letters pass.
    f.click(f.b.Bsalva);
    f.type(f.b.Ecitta, QStringLiteral("\u0141\u00f3d\u017a"));
    EXPECT_EQ(f.b.Ecitta->text(), QStringLiteral("\u00f3d"));
    EXPECT_EQ(f.beeper.beeps, 7);
    EXPECT_TRUE(f.form2.cardModified());
    f.click(f.b.Bsalva);
    QGuiApplication::clipboard()->setText(QStringLiteral("For\u0142\u00ec"));
    f.b.Ecognome->paste();
    EXPECT_EQ(f.b.Ecognome->text(), QString());
    EXPECT_EQ(f.beeper.beeps, 8);
    EXPECT_FALSE(f.form2.cardModified());
    QGuiApplication::clipboard()->setText(QStringLiteral("Forl\u00ec \u20ac"));
    f.b.Ecognome->paste();
    EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("Forl\u00ec \u20ac"));
}

TEST(AddressBook, ComingBackFromTheMainWindowShowsTheStoredCardButKeepsThePrompt)
{
    BookFixture f;
    writeBook({ card("AAA"), card("BBB") });
    f.openBook();
    f.type(f.b.Ecognome, QStringLiteral("zz"));
    ASSERT_NE(f.b.Ecognome->text(), QStringLiteral("AAA"));

    f.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    f.form2.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.form2));
    EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("AAA"));
    EXPECT_TRUE(f.form2.cardModified());

    f.dialogs.answerYes = false;
    f.click(f.b.Bsuccessivo);
    EXPECT_EQ(f.prompts(), 1);
    EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("BBB"));
}

namespace {

// Real message boxes over the window: each comes up, takes the activation,
// goes, and the desktop hands the activation back to the window under it.
class BoxDialogs : public FakeDialogs
{
public:
    void information(QWidget* parent, const QString& text) override
    {
        FakeDialogs::information(parent, text);
        showBox(parent, text);
    }
    bool question(QWidget* parent, const QString& text) override
    {
        const bool yes = FakeDialogs::question(parent, text);
        showBox(parent, text);
        return yes;
    }

    int boxesActive = 0;

private:
    void showBox(QWidget* parent, const QString& text)
    {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Pradix"), text, QMessageBox::Ok, parent);
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
        boxesActive += QTest::qWaitForWindowActive(&box) ? 1 : 0;
        box.hide();
        if (parent)
            parent->window()->activateWindow();
    }
};

} // namespace

TEST(AddressBook, BoxClosingOverTheWindowLeavesTheTyping)
{
    Windows<BoxDialogs> f;
    writeBook({ card("AAA") });
    f.openBook();
    f.type(f.b.Ecognome, QStringLiteral("zz"));
    const QString typed = f.b.Ecognome->text();
    ASSERT_NE(typed, QStringLiteral("AAA"));

    // The prompt answered No, then the end of the book: two boxes come and go.
    f.dialogs.answerYes = false;
    f.click(f.b.Bsuccessivo);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.form2));
    QApplication::processEvents();
    EXPECT_EQ(f.dialogs.shown, (QStringList { SavePrompt, EndOfFile }));
    EXPECT_EQ(f.dialogs.boxesActive, 2);
    EXPECT_EQ(f.b.Ecognome->text(), typed);
}

TEST(AddressBook, NeverFilledSummaryLeavesTheMainGridAlone)
{
    BookFixture f;
    TableGrid& mainGrid = f.window.grid();
    mainGrid.setCell(2, 3, QStringLiteral("9"));
    const TableGrid operatorsTable = mainGrid;

    // An empty book: no card shown, no read mirrored, nothing handed over.
    f.openBook();
    f.click(f.b.Button2);
    EXPECT_TRUE(f.window.summaryEditing());
    EXPECT_TRUE(mainGrid.dataEquals(operatorsTable));
    f.openBook();
    f.click(f.b.Besci);
    EXPECT_FALSE(f.form2.isVisible());
    EXPECT_TRUE(mainGrid.dataEquals(operatorsTable));
}

TEST(AddressBook, EsciCopiesTheCardsSummaryAndClosesThePort)
{
    BoxSim sim;
    ASSERT_TRUE(sim.start({ "--fast", "--fault", "silent" })) << sim.error();
    BookFixture f;
    writeBook({ card("AAA", "", '5') });
    f.ui.EditDevName->setText(QString::fromStdString(sim.devicePath()));
    TableGrid& mainGrid = f.window.grid();
    mainGrid.setCell(2, 3, QStringLiteral("9"));
    const TableGrid operatorsTable = mainGrid;

    // A read under way: the port is open, the LED red.
    QTest::mouseClick(f.ui.ButtonTransmit, Qt::LeftButton);
    ASSERT_TRUE(f.window.exchange().port().Enabled());
    f.openBook();
    EXPECT_EQ(f.form2.summary().cell(2, 3), QStringLiteral("5"));

    // The close box: nothing of "Esci".
    f.form2.close();
    EXPECT_FALSE(f.form2.isVisible());
    EXPECT_TRUE(mainGrid.dataEquals(operatorsTable));
    EXPECT_TRUE(f.window.exchange().port().Enabled());

    // "Esci": the summary into the main grid, the port closed, the LED as it was.
    f.openBook();
    f.b.Label9->setText(QStringLiteral("Dati inviati"));
    f.click(f.b.Besci);
    EXPECT_FALSE(f.form2.isVisible());
    EXPECT_TRUE(f.b.Label9->text().isEmpty());
    EXPECT_TRUE(mainGrid.dataEquals(f.form2.summary()));
    EXPECT_EQ(mainGrid.cell(2, 3), QStringLiteral("5"));
    EXPECT_FALSE(f.window.exchange().port().Enabled());
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clRed);
    EXPECT_TRUE(f.dialogs.shown.isEmpty());
}

TEST(AddressBook, EditaThenUtenteThenSalvaStoresTheEditedSummary)
{
    BookFixture f;
    writeBook({ card("AAA", "", '5') });
    f.openBook();
    f.click(f.b.Button2);
    EXPECT_TRUE(f.window.summaryEditing());
    EXPECT_EQ(f.window.grid().cell(7, 40), QStringLiteral("5"));

    // The operator edits association 1 in the main window.
    f.ui.SpinEdit1->setValue(1);
    f.ui.Edit2->setFocus();
    QTest::keyClicks(f.ui.Edit2, QStringLiteral("39"));
    ASSERT_EQ(f.window.grid().cell(1, 2), QStringLiteral("3"));

    f.openBook();
    EXPECT_TRUE(f.form2.summary().dataEquals(f.window.grid()));
    f.click(f.b.Bsalva);
    CustomerCard expected;
    expected.takeSummaryFrom(f.window.grid());
    const std::vector<CustomerCard> stored = readBook();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].summaryByte(1, 2), '3');
    EXPECT_EQ(std::memcmp(stored[0].data() + CustomerCard::SummaryOffset, expected.data() + CustomerCard::SummaryOffset,
                          CustomerCard::Size - CustomerCard::SummaryOffset),
              0);
    EXPECT_EQ(stored[0].text(Field::Cognome), QStringLiteral("AAA"));
}

TEST(AddressBook, FailingWritesAreReportedAndLoseNothing)
{
    {
        BookFixture f;
        writeBook({ card("BBB"), card("AAA") });
        const QByteArray before = bookBytes();
        f.openBook();
        FileSizeLimit full(2 * CustomerCard::Size - 100);

        f.click(f.b.Bnuovo);
        f.type(f.b.Ecognome, QStringLiteral("ccc"));
        f.click(f.b.Bsalva);
        ASSERT_EQ(f.dialogs.errors.size(), 1);
        EXPECT_TRUE(f.dialogs.errors[0].startsWith(QStringLiteral("Impossibile scrivere la scheda 3")))
            << f.dialogs.errors[0].toStdString();
        EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("CCC"));
        EXPECT_EQ(f.b.Edit8->text(), QStringLiteral("3"));
        EXPECT_TRUE(f.form2.cardModified());

        // Saving before a sort fails the same way: the typing and the prompt stay.
        f.dialogs.answerYes = true;
        f.click(f.b.Bordina);
        EXPECT_EQ(f.dialogs.errors.size(), 2);
        EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("CCC"));
        EXPECT_TRUE(f.form2.cardModified());

        // The sort itself cannot write the sorted book: the old one stays.
        f.dialogs.answerYes = false;
        f.click(f.b.Bordina);
        ASSERT_EQ(f.dialogs.errors.size(), 3);
        EXPECT_TRUE(f.dialogs.errors[2].startsWith(QStringLiteral("Impossibile ordinare la rubrica")))
            << f.dialogs.errors[2].toStdString();
        EXPECT_EQ(bookBytes(), before);
        EXPECT_EQ(f.form2.currentCard(), 0);
        f.click(f.b.Bsuccessivo);
        EXPECT_EQ(f.b.Ecognome->text(), QStringLiteral("AAA"));
    }
    {
        // Something that is no file where the book should be.
        BookFixture f;
        ASSERT_TRUE(QDir().mkdir(Book));
        f.openBook();
        ASSERT_EQ(f.dialogs.errors.size(), 1);
        EXPECT_TRUE(f.dialogs.errors[0].startsWith(QStringLiteral("Impossibile aprire la rubrica")))
            << f.dialogs.errors[0].toStdString();
        f.type(f.b.Ecognome, QStringLiteral("x"));
        f.click(f.b.Bsalva);
        EXPECT_EQ(f.dialogs.errors.size(), 2);
        EXPECT_TRUE(f.form2.cardModified());
        EXPECT_TRUE(QFileInfo(Book).isDir());
    }
}
