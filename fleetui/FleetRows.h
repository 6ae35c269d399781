#pragma once

#include "fleet/FleetStore.h"

#include <QString>

#include <optional>
#include <vector>

// The rows of the fleet window: every box the store knows, matched with the
// card of the book that dials its number today, and every card of the book
// whose box was never checked. Built on the window's thread from what the
// store and the book hold at that moment; no widget here.
namespace fleetui {

// A card of the book as the window needs it: its place and who it dials.
struct BookEntry
{
    int card = 0; // from 1, as "Scheda:" shows it
    QString surname;
    QString name;
    QString number;
};

// Where a row stands, for the colours, the words and the outcome filter.
enum class RowState { Same, Different, NoSummary, Unreached, Refused, NeverChecked };

// How the row's box and the book agree today.
enum class CardMatch {
    Present,       // a card dials the box's number
    NoNumber,      // the card has no number: it is never dialled
    NumberChanged, // the card the box was last called from now dials another number
    Missing,       // no card of the book dials the number any more
    BookUnknown,   // the book could not be read
};

struct FleetRow
{
    fleet::BoxState box; // for a card never checked: its number, card and names, no outcome
    CardMatch match = CardMatch::Present;
    int bookCard = 0;     // the card that dials the number today, 0 for none
    QString otherNumber;  // NumberChanged: what the card dials now

    RowState state() const;
    bool checked() const { return box.lastOutcome.has_value(); }
    // Why a restore or a save to the card cannot be done for this row; empty
    // when it can.
    QString cardProblem() const;
    // What the "Note" column says of the card: empty for a card in its place.
    QString cardNote() const;
};

// The word of the "Esito" column: the outcome's, or "mai controllata".
QString stateWord(RowState state);

// The store's boxes in its order, then the book's cards never checked in
// the book's order. `book` is none when the book could not be read.
std::vector<FleetRow> fleetRows(const std::vector<fleet::BoxState>& boxes, const std::optional<std::vector<BookEntry>>& book);

} // namespace fleetui

namespace fleetui {

// Every card of the book at `path`, opened for reading only (no lock, so a
// window may hold the book meanwhile). None, and `problem` set to the book's
// own message, when it cannot be read.
std::optional<std::vector<BookEntry>> readBookEntries(const QString& path, QString& problem);

} // namespace fleetui
