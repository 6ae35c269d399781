#include "device/TableGrid.h"

#include <algorithm>

TableGrid::Watch::Watch(TableGrid& grid, ChangeListener listener)
    : grid_(&grid)
    , listener_(std::move(listener))
{
    grid.watches_.push_back(this);
}

TableGrid::Watch::~Watch()
{
    if (grid_) {
        auto& watches = grid_->watches_;
        watches.erase(std::remove(watches.begin(), watches.end(), this), watches.end());
    }
}

TableGrid::TableGrid(const TableGrid& other)
    : cells_(other.cells_)
{
}

TableGrid& TableGrid::operator=(const TableGrid& other)
{
    if (this != &other) {
        cells_ = other.cells_;
        changed(0, 0, ColumnCount - 1, RowCount - 1);
    }
    return *this;
}

TableGrid::~TableGrid()
{
    for (Watch* watch : watches_)
        watch->grid_ = nullptr;
}

void TableGrid::changed(int c0, int r0, int c1, int r1) const
{
    // By index, so that a listener that starts or ends a watch while it is
    // told cannot leave the loop on a stale iterator.
    for (size_t i = 0; i < watches_.size(); ++i)
        if (watches_[i]->listener_)
            watches_[i]->listener_(c0, r0, c1, r1);
}

const QString& TableGrid::outside()
{
    static const QString empty;
    return empty;
}

const std::array<QString, 256>& TableGrid::byteTexts()
{
    // The characters are constants, never destroyed: a cell copied into a
    // text that outlives the table still reads them.
    static constexpr auto characters = [] {
        std::array<char16_t, 256> all{};
        for (int i = 0; i < 256; ++i)
            all[static_cast<size_t>(i)] = static_cast<char16_t>(i);
        return all;
    }();
    static const std::array<QString, 256> texts = [] {
        std::array<QString, 256> all;
        for (size_t i = 0; i < all.size(); ++i)
            all[i] = QString::fromRawData(reinterpret_cast<const QChar*>(&characters[i]), 1);
        return all;
    }();
    return texts;
}

const QString* TableGrid::emptyRow()
{
    static const std::array<QString, ColumnCount> empty;
    return empty.data();
}

TableGrid::Span TableGrid::assignRow(int row, const RowTexts& texts)
{
    QString* const cells = &cells_[static_cast<size_t>(index(FirstDataColumn, row))];
    Span changedCells;
    for (int i = 0; i < LastDataColumn; ++i) {
        const QString& text = *texts[static_cast<size_t>(i)];
        QString& slot = cells[i];
        if (holds(slot, text))
            continue;
        assign(slot, text);
        if (changedCells.first < 0)
            changedCells.first = FirstDataColumn + i;
        changedCells.last = FirstDataColumn + i;
    }
    return changedCells;
}

void TableGrid::setRows(int first, const RowTexts* rows, int count)
{
    // The rectangle around every cell that changed.
    int left = ColumnCount;
    int right = -1;
    int top = RowCount;
    int bottom = -1;
    for (int k = 0; k < count; ++k) {
        const int row = first + k;
        if (row < 0 || row >= RowCount)
            continue;
        const Span changedCells = assignRow(row, rows[k]);
        if (changedCells.first < 0)
            continue;
        left = std::min(left, changedCells.first);
        right = std::max(right, changedCells.last);
        top = std::min(top, row);
        bottom = row;
    }
    if (bottom >= 0 && !watches_.empty())
        changed(left, top, right, bottom);
}

void TableGrid::fillData(const QString& text)
{
    for (int r = FirstDataRow; r <= LastDataRow; ++r)
        for (int c = FirstDataColumn; c <= LastDataColumn; ++c)
            assign(cells_[static_cast<size_t>(index(c, r))], text);
    changed(FirstDataColumn, FirstDataRow, LastDataColumn, LastDataRow);
}

void TableGrid::copyDataFrom(const TableGrid& other)
{
    for (int r = FirstDataRow; r <= LastDataRow; ++r)
        for (int c = FirstDataColumn; c <= LastDataColumn; ++c)
            assign(cells_[static_cast<size_t>(index(c, r))], other.cells_[static_cast<size_t>(index(c, r))]);
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
