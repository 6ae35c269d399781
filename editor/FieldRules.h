#pragma once

#include "device/Codec.h"
#include "device/DayLineRules.h"
#include "device/GridLayout.h"
#include "device/TableFields.h"
#include "device/TableGrid.h"

#include <QString>

// What each box of the header and association strips does with a typed key,
// what it writes into the grid when a key is released in it or its text
// changes, and how the "X" buttons step their boxes. Every function works on
// the grid and the texts it is handed; the window only wires them to its
// widgets.
//
// Association rules take the grid row of the selected association (2..128);
// any other row (the selector reads 0, or a number the grid has no row for)
// makes them write no cell. No rule ever writes outside the columns of its
// own field, nor outside rows 1..128 and columns 1..26, whatever the box holds.
namespace editor {

// How each box takes typed keys, and the longest text typed into it, are
// part of the field's description (fields::describe).

// ---- header rules (row 1)

// Edit1Change: cell (3, 1) "A" for exactly "Automatica", otherwise "M";
// cells (2, 1) and (4, 1) "#".
void managementChanged(TableGrid& grid, const QString& text);

// Edit4KeyUp: the local prefix from cell (5, 1), "#" after it, "-" up to
// column 26. Cells (15, 1) and (16, 1), beep and flash, are never written.
void localPrefixReleased(TableGrid& grid, const QString& text);

// CheckListBox1Click: cell (15, 1) "B" or "0", cell (16, 1) "F" or "0".
void beepFlashClicked(TableGrid& grid, bool beep, bool flash);

// ---- association rules (row of the selected association)

// Edit2KeyUp.
void prefixReleased(TableGrid& grid, int row, const QString& prefix, codec::Model model);

// Edit3KeyUp. `prefix` is the text of the prefix box (the Kolvar1 code
// follows it in the same row). The result tells the window whether the
// new-association defaults were written, so that it shows them in the time
// boxes.
struct CodeResult
{
    bool defaults = false; // Edit5 := "0000", Edit6 := "2400"
};
CodeResult codeReleased(TableGrid& grid, int row, const QString& code, const QString& prefix, codec::Model model);

// Edit5KeyUp (firstColumn 15) and Edit6KeyUp (firstColumn 19). A box whose
// number is above 2400 is emptied with a beep; a box holding anything but
// digits writes nothing.
struct TimeResult
{
    bool clearBox = false;
    bool beep = false;
};
constexpr int StartTimeColumn = layout::kolvar22::StartTime.first;
constexpr int EndTimeColumn = layout::kolvar22::EndTime.first;
TimeResult timeReleased(TableGrid& grid, int row, const QString& time, int firstColumn);

// Edit8Change and Edit9Change, shared with the write plan.
using dayline::dayTypeChanged;
using dayline::lineChanged;

// Every cell of an association row := "-" (an empty association).
void clearAssociation(TableGrid& grid, int row);

// ---- the "X" buttons

QString nextManagement(const QString& text); // Button2
QString nextPort(const QString& text);       // Button3
QString nextDayType(const QString& text);    // Button8
QString nextLine(const QString& text);       // Button7, when the prefix box is not empty

} // namespace editor
