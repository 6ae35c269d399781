#pragma once

#include <QString>

#include <array>
#include <functional>
#include <vector>

// The box's table as the operator sees it: 27 columns by 129 rows of short
// texts, addressed as (column, row). Row 0 holds the column letters, column 0
// the association numbers, row 1 the header record and row n + 1 association n.
// Every byte maps 1:1 to one Latin-1 character, so a cell can hold any byte,
// code 0 included.
//
// Views hear of changes through a Watch. A grid and its watches end their
// link from whichever side goes first, so a window may keep its grid as a
// member and leave its grid view to the usual deletion of child widgets
// (which runs after the members are gone). One grid may have any number of
// watches; each hears every change. A copy of a grid is a new table: it
// takes the cells only, never the watches of the grid it was copied from.
// All of it lives on the user-interface thread.
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

    // A listener tied to one grid for as long as both live.
    class Watch
    {
    public:
        Watch(TableGrid& grid, ChangeListener listener);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

        // The grid watched, or nullptr once it is gone.
        TableGrid* grid() const { return grid_; }

    private:
        friend class TableGrid;
        TableGrid* grid_;
        ChangeListener listener_;
    };

    TableGrid() = default;
    // Cells only; the new grid has no watches.
    TableGrid(const TableGrid& other);
    // Cells only; this grid keeps its own watches, and they hear of the change.
    TableGrid& operator=(const TableGrid& other);
    ~TableGrid();

    static bool contains(int column, int row)
    {
        return column >= 0 && column < ColumnCount && row >= 0 && row < RowCount;
    }

    // A cell outside the grid reads as empty and ignores writes. Both run
    // thousands of times per table read or written: they are inline, and a
    // grid nobody watches tells nobody.
    const QString& cell(int column, int row) const
    {
        if (!contains(column, row))
            return outside();
        return cells_[static_cast<size_t>(index(column, row))];
    }
    void setCell(int column, int row, const QString& text)
    {
        if (!contains(column, row))
            return;
        QString& slot = cells_[static_cast<size_t>(index(column, row))];
        if (holds(slot, text))
            return;
        assign(slot, text);
        if (!watches_.empty())
            changed(column, row, column, row);
    }
    void setCell(int column, int row, char text) { setCell(column, row, byteText(static_cast<unsigned char>(text))); }

    // The one-character text of a byte, over static storage: a cell set from
    // it shares its character and allocates nothing.
    static const QString& byteText(unsigned char byte) { return byteTexts()[byte]; }
    static const std::array<QString, 256>& byteTexts();

    // A whole row at a time, for the codec's thousands of cells per table.
    // Cells 0..26 of `row` by column; a row outside the grid reads empty.
    const QString* row(int row) const
    {
        return row >= 0 && row < RowCount ? &cells_[static_cast<size_t>(index(0, row))] : emptyRow();
    }
    // The data cells 1..26 of `row` from texts[0..25], none of them null:
    // the same cells as 26 setCell calls, but the watches hear of the row
    // once, as the columns from the first cell that changed to the last.
    using RowTexts = std::array<const QString*, LastDataColumn>;
    void setRow(int row, const RowTexts& texts) { setRows(row, &texts, 1); }
    // Rows first..first + count - 1 so, told once as the rectangle around
    // every cell that changed. Rows outside the grid are left out.
    void setRows(int first, const RowTexts* rows, int count);

    // Every cell of rows 1..128, columns 1..26.
    void fillData(const QString& text);
    // Copies the data cells (rows 1..128, columns 1..26) of another grid.
    void copyDataFrom(const TableGrid& other);
    bool dataEquals(const TableGrid& other) const;

private:
    static int index(int column, int row) { return row * ColumnCount + column; }
    static const QString& outside();
    static const QString* emptyRow();
    // The data cells of a row from its texts; the columns from the first
    // cell that changed to the last, first -1 when none did.
    struct Span
    {
        int first = -1;
        int last = -1;
    };
    Span assignRow(int row, const RowTexts& texts);
    // Whether a cell already holds `text`. Most texts a table is made of are
    // shared ones, and most cells one character long: neither needs the
    // toolkit's comparison, a call into its library.
    static bool holds(const QString& slot, const QString& text)
    {
        const qsizetype size = text.size();
        if (slot.size() != size)
            return false;
        if (size == 0 || slot.constData() == text.constData())
            return true;
        return size == 1 ? slot.front() == text.front() : slot == text;
    }
    // A copy and a swap, both inline: the toolkit's own assignment is a call
    // into its library for every cell.
    static void assign(QString& slot, const QString& text)
    {
        QString copy(text);
        slot.swap(copy);
    }
    void changed(int c0, int r0, int c1, int r1) const;

    std::array<QString, ColumnCount * RowCount> cells_;
    std::vector<Watch*> watches_;
};
