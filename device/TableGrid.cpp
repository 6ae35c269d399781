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
