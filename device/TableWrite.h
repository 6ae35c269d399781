#pragma once

#include "device/TableGrid.h"

#include <QString>

#include <functional>

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

// The piece of a transfer at which the line stopped taking it.
struct StopPoint
{
    enum class Piece { Request, Header, Association, Clock };
    Piece piece = Piece::Request;
    int association = 0; // 1..127 for Piece::Association
};

// How a write ended. The caller must look: only Sent means the box holds the
// table, and anything else ends a command that was to go on after the write.
struct Result
{
    enum class Outcome {
        Sent,     // the whole table and the clock went out; port closed, LED green
        Refused,  // nothing went out: the table was refused before the port was opened
        CutShort, // the line stopped taking the table part-way: port closed, LED left red
    };
    Outcome outcome = Outcome::Sent;
    StopPoint stoppedAt; // for CutShort
    // What the operator must be told, in Italian; empty when the table went out.
    QString message;

    bool sent() const { return outcome == Outcome::Sent; }
};

// The operator's message for a table the line stopped taking at `at`: the box
// holds part of a table and it must be written again.
QString cutShortMessage(const StopPoint& at);
// The operator's message for a grid that names no model to write by.
QString noModelMessage();

// Opens the link (LED red, port on the port box's name, RTS, DTR), restarts
// the receive position and sends the table of `grid` by the rules of its
// model (cell (1, 1)). A used Kolvar22 row whose carrier cells all read "-"
// goes out with "*" in each, and the grid keeps them.
//
// A grid without a model is Refused with nothing sent. A port that cannot be
// opened raises ECommError before anything is sent. A piece the line does
// not take (the write time-out of a stalled or unplugged adapter) or a cell
// that cannot be encoded ends the write CutShort, with the port closed and
// the LED red; a line error raised once the port is open closes the port,
// leaves the LED red and is passed on. In every case but Sent the box holds
// part of a table at most, and the caller must say so.
Result send(TableGrid& grid, const Line& line, const Steps& steps);

// "*" in cells 7..14 of a used Kolvar22 row whose carrier cells all read "-":
// the box needs a carrier code, and the filler is what an empty one holds.
// Decided by the row's own cells, never by the editor's carrier box, which
// may still show another table's code (after a file load, say).
void fillMissingCarrier(TableGrid& grid, int row);

} // namespace tablewrite
