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

// Card `number` (from 1, as given on the command line) read from the book
// opened for reading only. A card the book lacks is a usage error; a book
// that cannot be read a file error.
CustomerCard readBookCard(const QString& path, const QString& number, bool quiet);

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
