#pragma once

#include "device/TableGrid.h"

#include <functional>
#include <stdexcept>

class Clock;
class Link;
class Pacer;
class ReceiveBuffer;
class TCustomComm;

// Sending the grid's table to the box on the line: the write request, the
// header, the 127 records and the computer's clock, each piece one port
// write, with the pauses the box's firmware expects between them (45 ms after
// the request, 55 ms after the header, 50 ms after every record). It all runs
// on the calling thread; the window shows its progress through the steps it
// hands in. The table is expected to have been judged whole before: a write
// is not the place to find a cell that cannot be encoded.
namespace tablewrite {

// What the window does while the table goes out.
struct Steps
{
    // The selector set to association n: its change rule refills the editor
    // boxes (whose day-type and line rules may write back into the row) and
    // the boxes are shown again at once.
    std::function<void(int association)> selectAssociation;
    // The row about to go out is final: the grid shown again, progress stepped.
    std::function<void()> rowReady;
};

struct Line
{
    TCustomComm& port;
    Link& link;
    ReceiveBuffer& receive;
    Pacer& pacer;
    const Clock& clock;
};

enum class Result {
    Sent,       // the whole table and the clock went out; port closed, LED green
    LineFailed, // a piece was not taken by the line: port closed, LED left red
};

// Opens the link (LED red, port on the port box's name, RTS, DTR), restarts
// the receive position and sends the table of `grid` by the rules of its
// model (cell (1, 1)). A used Kolvar22 row whose carrier cells all read "-"
// goes out with "*" in each, and the grid keeps them.
//
// A port that cannot be opened raises ECommError before anything is sent.
// Whatever is raised once the port is open (a cell that cannot be encoded, a
// line error) closes the port, leaves the LED red and is passed on: the box
// then holds part of a table, and the caller must say so.
Result send(TableGrid& grid, const Line& line, const Steps& steps);

// "*" in cells 7..14 of a used Kolvar22 row whose carrier cells all read "-":
// the box needs a carrier code, and the filler is what an empty one holds.
// Decided by the row's own cells, never by the editor's carrier box, which
// may still show another table's code (after a file load, say).
void fillMissingCarrier(TableGrid& grid, int row);

// A table that was not sent, or not whole, for a reason the operator has
// already been shown. It ends the command that asked for the write, and the
// application's error hook lets it pass without a second message.
class Refused : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace tablewrite
