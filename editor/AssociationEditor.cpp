#include "editor/AssociationEditor.h"

#include "device/DayLineRules.h"
#include "device/GridLayout.h"

#include <algorithm>
#include <climits>

namespace editor {

namespace {

namespace kolvar22 = layout::kolvar22;
namespace kolvar1 = layout::kolvar1;
namespace header = layout::header;
using layout::Columns;

QString joinAll(const TableGrid& grid, int row, Columns columns)
{
    QString text;
    for (int c = columns.first; c <= columns.last; ++c)
        text += visibleText(grid.cell(c, row));
    return text;
}

} // namespace

QString visibleText(const QString& cell)
{
    QString text = cell;
    text.remove(QChar(0));
    return text;
}

QString joinCellsUntil(const TableGrid& grid, int row, Columns columns, char stop, int* taken)
{
    QString text;
    int count = 0;
    for (int c = columns.first; c <= columns.last; ++c) {
        const QString& cell = grid.cell(c, row);
        if (layout::cell::holds(cell, stop))
            break;
        text += visibleText(cell);
        ++count;
    }
    if (taken)
        *taken = count;
    return text;
}

int selectorValue(const QString& text)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (ok)
        return int(std::clamp<qlonglong>(value, INT_MIN, INT_MAX));
    // Digits too many for any integer still name an association the table does not have.
    const QString trimmed = text.trimmed();
    const bool digits = !trimmed.isEmpty()
        && std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    return digits ? INT_MAX : 1;
}

int associationRow(int selector)
{
    if (selector < FirstAssociation || selector > LastAssociation)
        return 0;
    return selector + 1;
}

BoxFill boxesForAssociation(const TableGrid& grid, int selector, codec::Model model)
{
    using fields::Field;
    BoxFill fill;
    fill[Field::Prefix] = QString();
    fill[Field::Carrier] = QString();
    const int r = associationRow(selector);
    const dayline::Boxes dayLine = dayline::boxesForRow(grid, r, model);
    fill[Field::DayType] = dayLine.dayType;
    fill[Field::Line] = dayLine.line;
    if (r == 0 || grid.cell(layout::RowCells.first, r).isEmpty()) {
        fill[Field::StartTime] = QString();
        fill[Field::EndTime] = QString();
        return fill;
    }

    switch (model) {
    case codec::Model::Kolvar22:
        fill[Field::Prefix] = joinCellsUntil(grid, r, kolvar22::Prefix, layout::cell::Star);
        fill[Field::Carrier] = joinCellsUntil(grid, r, kolvar22::Carrier, layout::cell::Star);
        fill[Field::StartTime] = joinAll(grid, r, kolvar22::StartTime);
        fill[Field::EndTime] = joinAll(grid, r, kolvar22::EndTime);
        break;
    case codec::Model::Kolvar1: {
        // Prefix digits up to the "*", the code after it up to the "#".
        int p = 0;
        fill[Field::Prefix] = joinCellsUntil(grid, r, kolvar1::PrefixShown, layout::cell::Star, &p);
        fill[Field::Carrier]
            = joinCellsUntil(grid, r, { kolvar1::PrefixShown.first + p + 1, kolvar1::CodeShownLast }, layout::cell::Hash);
        fill[Field::StartTime] = QString();
        fill[Field::EndTime] = QString();
        break;
    }
    case codec::Model::None:
        break;
    }
    return fill;
}

HeaderBoxes boxesForHeader(const TableGrid& grid)
{
    HeaderBoxes boxes;
    const QString& management = grid.cell(header::ManagementColumn, layout::HeaderRow);
    if (layout::cell::holds(management, header::Manual))
        boxes.management = QString(layout::Manual);
    else if (layout::cell::holds(management, header::Automatic))
        boxes.management = QString(layout::Automatic);
    boxes.localPrefix = joinCellsUntil(grid, layout::HeaderRow, header::LocalPrefixShown, layout::cell::Hash);
    return boxes;
}

void rewriteRowNumbers(TableGrid& grid)
{
    for (int r = layout::FirstAssociationRow; r <= layout::LastAssociationRow; ++r)
        grid.setCell(0, r, QString::number(r - 1));
}

codec::Model modelAfterMarkerClick(const TableGrid& grid)
{
    return codec::modelOf(grid) == codec::Model::Kolvar22 ? codec::Model::Kolvar1 : codec::Model::Kolvar22;
}

} // namespace editor
