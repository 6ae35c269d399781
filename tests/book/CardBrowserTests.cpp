#include "book/CardBrowser.h"
#include "tests/book/CrashDisk.h"

#include <gtest/gtest.h>

#include <initializer_list>

using Field = CustomerCard::Field;
using Move = CardBrowser::Move;

namespace {

const QByteArray Book = "/disk/RUBRICA.DAT";

CustomerCard card(const QString& surname)
{
    CustomerCard c;
    c.setText(Field::Cognome, surname);
    c.setSummaryByte(2, 3, 'S');
    return c;
}

QByteArray bookOf(std::initializer_list<const char*> surnames)
{
    QByteArray bytes;
    for (const char* surname : surnames)
        bytes.append(reinterpret_cast<const char*>(card(QLatin1String(surname)).data()), CustomerCard::Size);
    return bytes;
}

struct Browsing
{
    explicit Browsing(std::initializer_list<const char*> surnames) { disk.lay(Book, bookOf(surnames)); }
    QString surname() const { return browser.card().text(Field::Cognome); }

    CrashDisk disk;
    CardBrowser browser { disk, QString::fromLatin1(Book) };
};

} // namespace

// Moving stops at either end of the book without losing the card shown;
// what the book found on opening comes with the step that opened it.
TEST(CardBrowser, MovesThroughTheBookAndStopsAtItsEnds)
{
    Browsing b({ "ROSSI", "BIANCHI", "VERDI" });
    b.disk.lay(Book + ".journal", QByteArray("PRXJRNL2") + QByteArray(40, '\x7f'));
    const CardBrowser::Outcome opened = b.browser.reload();
    ASSERT_TRUE(opened.ok()) << qPrintable(opened.failure);
    EXPECT_EQ(opened.notices.size(), 1);
    EXPECT_EQ(opened.move, Move::Moved);
    EXPECT_EQ(b.surname(), QStringLiteral("ROSSI"));

    EXPECT_EQ(b.browser.previous().move, Move::AtStart);
    EXPECT_EQ(b.browser.current(), 0);
    EXPECT_EQ(b.browser.next().move, Move::Moved);
    EXPECT_EQ(b.browser.next().move, Move::Moved);
    EXPECT_EQ(b.browser.next().move, Move::AtEnd);
    EXPECT_EQ(b.browser.current(), 2);
    EXPECT_EQ(b.surname(), QStringLiteral("VERDI"));
    EXPECT_EQ(b.browser.previous().move, Move::Moved);
    EXPECT_EQ(b.surname(), QStringLiteral("BIANCHI"));
    EXPECT_TRUE(b.browser.previous().notices.isEmpty());
}

// A new card takes the place after the last one; left unsaved, it gives the
// place back, saved, it is the card shown and nothing is pending.
TEST(CardBrowser, NewCardIsPendingUntilSavedOrLeft)
{
    Browsing b({ "ROSSI", "BIANCHI" });
    ASSERT_TRUE(b.browser.reload().ok());
    ASSERT_TRUE(b.browser.beginNewCard().ok());
    EXPECT_EQ(b.browser.current(), 2);
    EXPECT_TRUE(b.browser.newCardPending());
    b.browser.leave();
    EXPECT_EQ(b.browser.current(), 1);

    ASSERT_TRUE(b.browser.beginNewCard().ok());
    b.browser.setCardModified(true);
    ASSERT_TRUE(b.browser.save(card(QStringLiteral("NERI"))).ok());
    EXPECT_FALSE(b.browser.newCardPending());
    EXPECT_FALSE(b.browser.cardModified());
    b.browser.leave();
    EXPECT_EQ(b.browser.current(), 2);
    EXPECT_EQ(b.disk.file(Book)->live, bookOf({ "ROSSI", "BIANCHI", "NERI" }));
}

// A save the disk refuses leaves the card, its place and the typing as they
// were, and says why.
TEST(CardBrowser, FailedSaveKeepsTheCardAndTheTyping)
{
    Browsing b({ "ROSSI", "BIANCHI" });
    ASSERT_TRUE(b.browser.reload().ok());
    ASSERT_EQ(b.browser.next().move, Move::Moved);
    b.browser.setCardModified(true);
    b.disk.stopAfter(0);
    const CardBrowser::Outcome saved = b.browser.save(card(QStringLiteral("NERI")));
    EXPECT_FALSE(saved.ok());
    EXPECT_TRUE(saved.failure.startsWith(QStringLiteral("Impossibile scrivere la scheda 2")))
        << qPrintable(saved.failure);
    EXPECT_EQ(b.browser.current(), 1);
    EXPECT_EQ(b.surname(), QStringLiteral("BIANCHI"));
    EXPECT_TRUE(b.browser.cardModified());
}

// The sort is told how many cards it would leave out, and ends just past the
// last card it kept.
TEST(CardBrowser, SortCountsWhatItLeavesOutAndEndsPastTheLastCard)
{
    Browsing b({ "ROSSI", "", "BIANCHI" });
    ASSERT_TRUE(b.browser.reload().ok());
    ASSERT_EQ(b.browser.next().move, Move::Moved);
    EXPECT_EQ(b.browser.countCardsWithoutSurname().count, 1);
    EXPECT_EQ(b.browser.next().move, Move::Moved); // counting kept the place
    const CardBrowser::Outcome sorted = b.browser.sortBySurname();
    ASSERT_TRUE(sorted.ok()) << qPrintable(sorted.failure);
    EXPECT_EQ(sorted.count, 2);
    EXPECT_EQ(b.browser.current(), 2);
    EXPECT_EQ(b.disk.file(Book)->live, bookOf({ "BIANCHI", "ROSSI" }));
}
