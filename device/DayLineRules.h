#pragma once

#include "device/Codec.h"
#include "device/TableGrid.h"

#include <QString>

#include <optional>

// The day-type and line boxes of the association editor and the two cells
// each of them writes. Selecting an association sets the boxes from its row,
// and a box whose text changes writes its rule back into the row: that is
// how a write, stepping through the associations, completes a row's
// separator and terminator. The editor and the write plan both run these.
namespace dayline {

// Edit8Change: "Sempre" "0", "Feriale" "1", "Festivo" "2" into cell 23; any
// non-empty text puts "*" into cell 24. Rows other than 2..128 are not written.
void dayTypeChanged(TableGrid& grid, int row, const QString& text);

// Edit9Change: "0", "1" or "2" into cell 25; any non-empty text puts "#" into cell 26.
void lineChanged(TableGrid& grid, int row, const QString& text);

// What the two boxes are set to when association row `row` is selected (0:
// the selector selects none); a box without a value keeps what it shows.
struct Boxes
{
    std::optional<QString> dayType; // Edit8
    std::optional<QString> line;    // Edit9
};
Boxes boxesForRow(const TableGrid& grid, int row, codec::Model model);

} // namespace dayline
