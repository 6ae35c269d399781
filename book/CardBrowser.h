#pragma once

#include "book/AddressBookFile.h"
#include "book/CustomerCard.h"

#include <QString>
#include <QStringList>

#include <functional>

// Browsing RUBRICA.DAT one card at a time, on Qt Core alone: the card shown,
// its place in the book, whether it was changed since it was read, and the
// steps an operator takes over the book (move, save, begin a new card, sort).
// The address book window drives it and shows what it holds; anything that
// browses the book without widgets can drive it the same way.
//
// A step never throws: it returns what the operator must be told. After a
// failure the card, its place and its changes are what they were before.
class CardBrowser
{
public:
    // How a step left the card shown.
    enum class Move {
        Stayed,  // the same card (or none: the book is empty)
        Moved,   // card() is the card read at current()
        AtStart, // "previous" at the first card: nothing before it
        AtEnd,   // "next" at the last card: nothing after it
    };

    struct Outcome
    {
        // What the book found on the way (a save completed after a crash,
        // another program holding it, a replaced file): told once, first.
        QStringList notices;
        // Why the step failed, the whole text for a plain box; empty on success.
        QString failure;
        Move move = Move::Stayed;
        // The cards counted by the step that counts.
        int count = 0;

        bool ok() const { return failure.isEmpty(); }
    };

    explicit CardBrowser(BookFileSystem& files = BookFileSystem::disk(),
                         const QString& path = AddressBookFile::DefaultName);

    // Index of the card shown (the operator sees it + 1).
    int current() const { return current_; }
    const CustomerCard& card() const { return card_; }
    // Typing the card has not been saved yet.
    bool cardModified() const { return modified_; }
    void setCardModified(bool modified) { modified_ = modified; }
    // A new card was begun and is not in the book yet.
    bool newCardPending() const { return newCardPending_; }

    // Back to the first card, nothing pending.
    void reset();
    // Opens the book (held from then on) and reads the card at current().
    Outcome reload();
    Outcome previous();
    Outcome next();
    // Writes `card` at current() and makes it the card shown.
    Outcome save(const CustomerCard& card);
    // The place after the last card becomes current(); nothing is written.
    Outcome beginNewCard();
    // The cards a sort would leave out (no surname); reads the whole book.
    Outcome countCardsWithoutSurname();
    // Sorts the book by surname; current() is then just past its last card.
    Outcome sortBySurname();
    // Leaving the book: a new card never saved gives its place back.
    void leave();

private:
    Outcome run(const std::function<void()>& step);

    AddressBookFile book_;
    QString path_;
    CustomerCard card_;
    int current_ = 0;
    bool modified_ = false;
    bool newCardPending_ = false;
};
