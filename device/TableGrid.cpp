#include "device/TableGrid.h"

const QString& TableGrid::cell(int column, int row) const
{
    static const QString outside;
    if (!contains(column, row))
        return outside;
    return cells_[static_cast<size_t>(index(column, row))];
}

void TableGrid::setCell(int column, int row, const QString& text)
{
    if (!contains(column, row))
        return;
    QString& slot = cells_[static_cast<size_t>(index(column, row))];
    if (slot == text)
        return;
    slot = text;
    changed(column, row, column, row);
}

void TableGrid::fillData(const QString& text)
{
    for (int r = FirstDataRow; r <= LastDataRow; ++r)
        for (int c = FirstDataColumn; c <= LastDataColumn; ++c)
            cells_[static_cast<size_t>(index(c, r))] = text;
    changed(FirstDataColumn, FirstDataRow, LastDataColumn, LastDataRow);
}

void TableGrid::copyDataFrom(const TableGrid& other)
{
    for (int r = FirstDataRow; r <= LastDataRow; ++r)
        for (int c = FirstDataColumn; c <= LastDataColumn; ++c)
            cells_[static_cast<size_t>(index(c, r))] = other.cells_[static_cast<size_t>(index(c, r))];
    changed(FirstDataColumn, FirstDataRow, LastDataColumn, LastDataRow);
}

bool TableGrid::dataEquals(const TableGrid& other) const
{
    for (int r = FirstDataRow; r <= LastDataRow; ++r)
        for (int c = FirstDataColumn; c <= LastDataColumn; ++c)
            if (cell(c, r) != other.cell(c, r))
                return false;
    return true;
}
