#pragma once

#include "device/TableFields.h"
#include "device/TableGrid.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class Clock;
class LineObserver;
class Pacer;
class TCustomComm;

// Writing a table to the box, in two steps: the plan, then the send.
//
// Writing a table does more than encode the grid. It steps the editor's
// selector through the associations; each step refills the editor, whose
// day-type and line boxes write "*" and "#" back into the row when their
// text changes from one association to the next, and a used Kolvar22 row
// without a carrier gets "*" in its carrier cells. The plan runs all of that
// on a copy of the grid and on the editor's state as it stands at the click,
// encodes every row, and so knows before anything goes out the table the
// box will hold, every piece and pause, and whether the table can go at all.
// The send then puts exactly those pieces on the line; a window shows the
// plan's grid and editor state, and a front end without windows has the
// same write.
namespace writeplan {

// What the write reads of the editor when it starts.
struct EditorState
{
    int selector = 1;  // the association the selector shows (SpinEdit1)
    QString dayType;   // Edit8
    QString line;      // Edit9
};

// The field of a cell that refuses to be encoded, as the operator knows it.
using fields::Field;

// The pauses the box's firmware needs between pieces.
constexpr int PauseAfterRequestMs = 45;
constexpr int PauseAfterHeaderMs = 55;
constexpr int PauseAfterRecordMs = 50;

// One port write, and the wait after it.
struct Piece
{
    QByteArray bytes;
    int pauseAfterMs = 0;
    // The association whose record the piece carries; 0 for the write
    // request and the header.
    int association = 0;
};

struct Plan
{
    // 1..127 for an association that cannot be sent; 0 for the header, the
    // model or a table that can be written.
    int association = 0;
    std::optional<Field> field; // the field refused; none when the table can be written
    QString message; // for the operator, in Italian; empty when the table can be written

    // The table and the editor as the write leaves them (selector 1, the
    // boxes of association 1); for a refused table, as far as the steps got.
    TableGrid grid;
    EditorState editor;
    // The write request, the header and each record in its pieces, in the
    // order they go out. The clock follows them, read when it is sent.
    std::vector<Piece> pieces;

    bool ok() const { return !field; }
};

// The write of `grid` with the editor in `editor`; neither is touched.
Plan plan(const TableGrid& grid, const EditorState& editor);

// "*" in cells 7..14 of a used Kolvar22 row whose carrier cells all read "-":
// the box needs a carrier code, and the filler is what an empty one holds.
// Decided by the row's own cells, never by the editor's carrier box, which
// may still show another table's code (after a file load, say).
void fillMissingCarrier(TableGrid& grid, int row);

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
        Sent,     // the whole table and the clock went out
        Refused,  // nothing went out: the plan refused the table
        CutShort, // the line stopped taking a piece: nothing was sent after it
    };
    Outcome outcome = Outcome::Sent;
    StopPoint stoppedAt; // for CutShort
    // What the operator must be told, in Italian; empty when the table went out.
    QString message;

    bool sent() const { return outcome == Outcome::Sent; }
};

// Whether `plan` can be written: Refused, with the plan's message, when it
// cannot; nothing when it can. The box session and pradix-tool ask this
// before they start anything for a table, and send asks it again.
std::optional<Result> refusal(const Plan& plan);

// The operator's message for a table the line stopped taking at `at`: the box
// holds part of a table and it must be written again.
QString cutShortMessage(const StopPoint& at);
// The operator's message for a grid that names no model to write by.
QString noModelMessage();

// Called before the first piece of each record, with the association it
// carries: from the second record on, inside the pause before that piece
// (see Pacer::pauseSince), so what it shows does not hold the line up.
using RecordStarting = std::function<void(int association)>;

// Puts the plan's pieces on `port`, each one port write followed by its
// pause, then the three bytes of `clock` one at a time. The port is expected
// open; it is left open either way. A plan that refused its table sends
// nothing and comes back Refused with the plan's message; a piece the line
// does not take whole (the write time-out of a stalled or unplugged adapter)
// ends the send CutShort, with where it stopped.
Result send(const Plan& plan, TCustomComm& port, Pacer& pacer, const Clock& clock,
            const RecordStarting& recordStarting = {}, LineObserver* observer = nullptr);

} // namespace writeplan
