#pragma once

#include <QString>

#include <array>
#include <functional>

// The box's table as the operator sees it: 27 columns by 129 rows of short
// texts, addressed as (column, row). Row 0 holds the column letters, column 0
// the association numbers, row 1 the header record and row n + 1 association n.
// Every byte maps 1:1 to one Latin-1 character, so a cell can hold any byte,
// code 0 included.
class TableGrid
{
public:
    static constexpr int ColumnCount = 27;
    static constexpr int RowCount = 129;
    static constexpr int FirstDataColumn = 1;
    static constexpr int LastDataColumn = 26;
    static constexpr int FirstDataRow = 1;
    static constexpr int LastDataRow = 128;

    // Called with the inclusive rectangle (c0, r0)..(c1, r1) whenever cells change.
    using ChangeListener = std::function<void(int c0, int r0, int c1, int r1)>;

    static bool contains(int column, int row)
    {
        return column >= 0 && column < ColumnCount && row >= 0 && row < RowCount;
    }

    // A cell outside the grid reads as empty and ignores writes.
    const QString& cell(int column, int row) const;
    void setCell(int column, int row, const QString& text);
    void setCell(int column, int row, char text) { setCell(column, row, QString(QLatin1Char(text))); }

    // Every cell of rows 1..128, columns 1..26.
    void fillData(const QString& text);
    // Copies the data cells (rows 1..128, columns 1..26) of another grid.
    void copyDataFrom(const TableGrid& other);
    bool dataEquals(const TableGrid& other) const;

    void setChangeListener(ChangeListener listener) { listener_ = std::move(listener); }

private:
    static int index(int column, int row) { return row * ColumnCount + column; }
    void changed(int c0, int r0, int c1, int r1) const
    {
        if (listener_)
            listener_(c0, r0, c1, r1);
    }

    std::array<QString, ColumnCount * RowCount> cells_;
    ChangeListener listener_;
};
