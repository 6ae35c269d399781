#pragma once

#include "book/AddressBookFile.h"
#include "book/CustomerCard.h"
#include "device/TableGrid.h"
#include "tool/ToolFrame.h"

#include <QString>

// The address book for the commands that dial a customer: a card read
// without touching the book, and a card's summary saved as the window's
// "Salva" saves it.
namespace tool {

// --book FILE: RUBRICA.DAT in the current folder unless given.
QCommandLineOption bookOption();
QString bookPath(const CommandParser& parser);
// --card N or --number DIGITS, exactly one; --book only with --card. A
// usage error otherwise. True when the card is the one given.
bool cardOrNumber(const CommandParser& parser);

// Card `number` (from 1, as given on the command line) read from the book
// opened for reading only. A card the book lacks is a usage error; a book
// that cannot be read a file error.
CustomerCard readBookCard(const QString& path, const QString& number, bool quiet);

// RUBRICA.DAT opened for reading only: never created, never locked, never
// written, so the window may keep it open meanwhile. A save the window cut
// short reads as completed, as the window itself will complete it. A book
// that cannot be read ends the command with a file error.
class BookReader
{
public:
    // Far beyond any customer list; a file this big was named by mistake.
    static constexpr int MaxCards = 100000;

    explicit BookReader(const QString& path);

    int cardCount() const { return file_.cardCount(); }
    bool hasPartialCard() const { return file_.hasPartialCard(); }
    // What the book found on opening that the operator must hear of.
    QStringList notices() { return file_.takeNotices(); }
    // Card `index` (from 0).
    CustomerCard card(int index);

private:
    AddressBookFile file_;
};

// What the book had to tell, on standard error.
void tellNotices(bool quiet, BookReader& book, const QString& path);

// The book opened for writing, its writer's lock held until this is gone, so
// no window saves over the card meanwhile. A book that does not exist, that
// may only be read or that a running window holds is refused at once (exit 5)
// with the book's own message.
class CardWriter
{
public:
    CardWriter(const QString& path, const QString& number);

    const CustomerCard& card() const { return card_; }
    int number() const { return index_ + 1; }
    // The table into the card's summary, as "Salva" stores the main grid.
    void saveSummary(const TableGrid& grid);

private:
    AddressBookFile file_;
    QString path_;
    int index_ = 0;
    CustomerCard card_;
};

} // namespace tool
