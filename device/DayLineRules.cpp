#include "device/DayLineRules.h"

#include "device/GridLayout.h"

namespace dayline {
namespace {

namespace kolvar22 = layout::kolvar22;

bool isAssociationRow(int row)
{
    return row >= layout::FirstAssociationRow && row <= layout::LastAssociationRow;
}

} // namespace

void dayTypeChanged(TableGrid& grid, int row, const QString& text)
{
    if (!isAssociationRow(row) || text.isEmpty())
        return;
    if (const std::optional<char> day = layout::dayTypeCell(text))
        grid.setCell(kolvar22::DayTypeColumn, row, *day);
    grid.setCell(kolvar22::SeparatorColumn, row, layout::cell::Star);
}

void lineChanged(TableGrid& grid, int row, const QString& text)
{
    if (!isAssociationRow(row) || text.isEmpty())
        return;
    if (layout::isLine(text))
        grid.setCell(kolvar22::LineColumn, row, text);
    grid.setCell(kolvar22::TerminatorColumn, row, layout::cell::Hash);
}

Boxes boxesForRow(const TableGrid& grid, int row, codec::Model model)
{
    Boxes boxes;
    if (!isAssociationRow(row) || grid.cell(layout::RowCells.first, row).isEmpty()) {
        boxes.dayType = QString();
        boxes.line = QString();
        return boxes;
    }
    if (model != codec::Model::Kolvar22)
        return boxes;

    const QString& day = grid.cell(kolvar22::DayTypeColumn, row);
    if (const std::optional<QString> word = layout::dayTypeWord(day))
        boxes.dayType = word;
    else if (layout::cell::holds(day, layout::cell::Nothing))
        boxes.dayType = QString();

    const QString& line = grid.cell(kolvar22::LineColumn, row);
    if (layout::isLine(line))
        boxes.line = line;
    else if (layout::cell::holds(line, layout::cell::Nothing))
        boxes.line = QString();
    return boxes;
}

} // namespace dayline
