#pragma once

#include "device/Codec.h"
#include "device/TableGrid.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Whether a table can go to the box whole, decided before the port is opened.
//
// Writing a table does more than encode the grid: stepping the selector
// through the associations refills the editor for each of them, whose day-type
// and line boxes write "*" and "#" back into the row when their text changes,
// and a used Kolvar22 row without a carrier gets "*" in its carrier cells. A
// row is only known to be encodable after all of that. The check runs the
// same steps on a copy of the grid and on stand-ins for the boxes, so the real
// grid, selector and boxes are left exactly as they were, and the real write
// then does these steps itself.
namespace editor {

// What the write reads of the editor when it starts.
struct WriteEditorState
{
    int selector = 1;  // the association the selector shows (SpinEdit1)
    QString dayType;   // Edit8
    QString line;      // Edit9
};

enum class WriteField {
    None,
    Model,
    // header (row 1)
    HeaderSeparator,
    Management,
    LocalPrefix,
    Reserved,
    Beep,
    Flash,
    // association rows
    Prefix,
    Carrier,
    StartTime,
    EndTime,
    DayType,
    Separator,
    Line,
    Terminator,
};

struct WriteCheck
{
    // 1..127 for an association that cannot be sent; 0 for the header, the
    // model or a table that can be written.
    int association = 0;
    WriteField field = WriteField::None;
    QString message; // for the operator, in Italian; empty when the table can be written

    // The table, selector and boxes as the write leaves them when it gets
    // through (selector 1, the editor on association 1); when it is refused,
    // as far as the steps got.
    TableGrid grid;
    WriteEditorState editor;
    // Every piece the write sends after the request, in order, up to and
    // without the clock: the header, then each record in its pieces.
    std::vector<QByteArray> pieces;

    bool ok() const { return field == WriteField::None; }
};

// Runs the write's steps for `grid` without touching it.
WriteCheck checkWrite(const TableGrid& grid, const WriteEditorState& editor);

// The Italian name of a field as the operator knows it ("ora di fine").
QString writeFieldName(WriteField field);

} // namespace editor
