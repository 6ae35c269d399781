#pragma once

#include "device/Codec.h"
#include "device/GridLayout.h"
#include "device/TableFields.h"
#include "device/TableGrid.h"

#include <QString>

#include <optional>

// Selecting one association of the table and showing it in the editor boxes.
// The grid is the table: the boxes are only a view of one of its rows, filled
// from the cells here and written back by the field rules.
namespace editor {

constexpr int FirstAssociation = 1;
constexpr int LastAssociation = 127;

// The selector's value as its text reads it: a text that is not a number
// reads as 1. Numbers are returned as they stand (0, or above 127 while the
// operator is typing); see associationRow.
int selectorValue(const QString& text);

// Grid row of association n (n + 1), or 0 when n selects no association (0,
// or a number the table has no row for).
int associationRow(int selector);

// What the editor boxes are set to when an association is selected, by
// field; the window applies them in the order of fields::AssociationFields.
// A box without a value keeps what it shows; the prefix and carrier boxes
// always get one.
using BoxFill = fields::PerField<std::optional<QString>>;

// The boxes for association `selector` under `model` (the marker of cell (1, 1)).
BoxFill boxesForAssociation(const TableGrid& grid, int selector, codec::Model model);

// What the header boxes show of row 1 after a read.
struct HeaderBoxes
{
    // Edit1: "Manuale" for "M" in cell (3, 1), "Automatica" for "A"; with
    // anything else the box keeps what it shows.
    std::optional<QString> management;
    // Edit4: cells (5, 1) .. (15, 1) joined, stopping before the first "#".
    QString localPrefix;
};
HeaderBoxes boxesForHeader(const TableGrid& grid);

// A cell's text as a box shows it: without the code 0 that rows a short
// file did not reach hold.
QString visibleText(const QString& cell);

// The cells of `columns` in `row` as a box shows them, joined, stopping
// before the first cell that holds `stop`; `taken` counts the cells joined.
QString joinCellsUntil(const TableGrid& grid, int row, layout::Columns columns, char stop, int* taken = nullptr);

// Column 0 of rows 2..128 := "1".."127".
void rewriteRowNumbers(TableGrid& grid);

// A click on cell (1, 1) switches to the other model; with no model chosen it
// chooses Kolvar22.
codec::Model modelAfterMarkerClick(const TableGrid& grid);

} // namespace editor
