#include "book/CardBrowser.h"

#include <algorithm>

CardBrowser::CardBrowser(BookFileSystem& files, const QString& path)
    : book_(files)
    , path_(path)
{
}

CardBrowser::Outcome CardBrowser::run(const std::function<void()>& step)
{
    Outcome outcome;
    try {
        step();
    } catch (const AddressBookError& e) {
        outcome.failure = e.message();
    }
    outcome.notices = book_.takeNotices();
    return outcome;
}

void CardBrowser::reset()
{
    current_ = 0;
    modified_ = false;
    newCardPending_ = false;
}

CardBrowser::Outcome CardBrowser::reload()
{
    newCardPending_ = false;
    Move move = Move::Stayed;
    Outcome outcome = run([&] {
        book_.open(path_);
        if (book_.cardCount() == 0)
            return;
        book_.seek(current_);
        if (book_.atEnd())
            return;
        CustomerCard read;
        book_.readCard(read);
        card_ = read;
        move = Move::Moved;
    });
    outcome.move = move;
    return outcome;
}

CardBrowser::Outcome CardBrowser::previous()
{
    if (current_ == 0) {
        Outcome outcome = run([this] { book_.seek(0); });
        if (outcome.ok())
            outcome.move = Move::AtStart;
        return outcome;
    }
    const int previous = current_ - 1;
    CustomerCard read;
    Outcome outcome = run([&] {
        book_.seek(previous);
        book_.readCard(read);
        book_.seek(previous);
    });
    if (outcome.ok()) {
        current_ = previous;
        card_ = read;
        outcome.move = Move::Moved;
    }
    return outcome;
}

CardBrowser::Outcome CardBrowser::next()
{
    const int next = current_ + 1;
    bool atEnd = false;
    CustomerCard read;
    Outcome outcome = run([&] {
        book_.seek(next);
        atEnd = book_.atEnd();
        if (atEnd) {
            book_.seek(current_);
            return;
        }
        book_.readCard(read);
        book_.seek(next);
    });
    if (!outcome.ok())
        return outcome;
    if (atEnd) {
        outcome.move = Move::AtEnd;
        return outcome;
    }
    current_ = next;
    card_ = read;
    outcome.move = Move::Moved;
    return outcome;
}

CardBrowser::Outcome CardBrowser::save(const CustomerCard& card)
{
    Outcome outcome = run([&] {
        book_.seek(current_);
        book_.writeCard(card);
    });
    if (outcome.ok()) {
        card_ = card;
        newCardPending_ = false;
        modified_ = false;
    }
    return outcome;
}

CardBrowser::Outcome CardBrowser::beginNewCard()
{
    int count = 0;
    Outcome outcome = run([&] { count = book_.cardCount(); });
    if (outcome.ok()) {
        current_ = count;
        newCardPending_ = true;
    }
    return outcome;
}

CardBrowser::Outcome CardBrowser::countCardsWithoutSurname()
{
    int found = 0;
    Outcome outcome = run([&] {
        const int count = book_.cardCount();
        book_.seek(0);
        for (int i = 0; i < count; ++i) {
            CustomerCard card;
            book_.readCard(card);
            if (card.textLength(CustomerCard::Field::Cognome) == 0)
                ++found;
        }
        book_.seek(current_);
    });
    outcome.count = found;
    return outcome;
}

CardBrowser::Outcome CardBrowser::sortBySurname()
{
    // A sort that fails leaves the book as it was, open at its first card.
    current_ = 0;
    int written = 0;
    Outcome outcome = run([&] { written = book_.sortBySurname(); });
    if (outcome.ok())
        current_ = written;
    outcome.count = written;
    return outcome;
}

void CardBrowser::leave()
{
    if (newCardPending_)
        current_ = std::max(0, current_ - 1);
}
