#pragma once

#include "device/TableGrid.h"

#include <QString>

// Rows of a test grid written and read as one string, one character per cell.
inline void setRowText(TableGrid& grid, int row, const QString& cells, int firstColumn = 1)
{
    for (int i = 0; i < cells.size(); ++i)
        grid.setCell(firstColumn + i, row, QString(cells.at(i)));
}

inline QString rowText(const TableGrid& grid, int row, int first = 1, int last = 26)
{
    QString text;
    for (int c = first; c <= last; ++c)
        text += grid.cell(c, row);
    return text;
}

// A grid as the program starts: every data cell "-".
inline TableGrid freshGrid()
{
    TableGrid grid;
    grid.fillData(QStringLiteral("-"));
    return grid;
}

// The Kolvar22 association of the examples: prefix 39, code 1055, 08:30 to
// 13:00, working days, line 1.
inline const QString sampleKolvar22 = QStringLiteral("39****1055****083013001*1#");
