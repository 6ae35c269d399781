#include "book/CustomerCard.h"

#include "device/Windows1252.h"
#include "device/TableGrid.h"

#include <algorithm>
#include <cstring>

int CustomerCard::textLength(Field field) const
{
    const Layout at = layout(field);
    return std::min<int>(bytes_[size_t(at.offset)], at.capacity);
}

QString CustomerCard::text(Field field) const
{
    const Layout at = layout(field);
    return windows1252::decode(reinterpret_cast<const char*>(bytes_.data()) + at.offset + 1, textLength(field));
}

void CustomerCard::setText(Field field, const QString& text)
{
    const Layout at = layout(field);
    QByteArray bytes = windows1252::encode(text);
    bytes.truncate(at.capacity);
    std::uint8_t* slot = bytes_.data() + at.offset;
    slot[0] = std::uint8_t(bytes.size());
    std::memset(slot + 1, 0, size_t(at.capacity));
    std::memcpy(slot + 1, bytes.constData(), size_t(bytes.size()));
}

std::uint8_t CustomerCard::summaryByte(int column, int row) const
{
    return inSummary(column, row) ? bytes_[size_t(summaryOffset(column, row))] : 0;
}

void CustomerCard::setSummaryByte(int column, int row, std::uint8_t byte)
{
    if (inSummary(column, row))
        bytes_[size_t(summaryOffset(column, row))] = byte;
}

void CustomerCard::takeSummaryFrom(const TableGrid& grid)
{
    for (int r = 1; r <= SummaryRows; ++r) {
        for (int c = 1; c <= SummaryColumns; ++c) {
            const QString& cell = grid.cell(c, r);
            std::uint8_t byte = EmptyCellByte;
            if (!cell.isEmpty())
                byte = cell.at(0).unicode() <= 0xFF ? std::uint8_t(cell.at(0).unicode()) : std::uint8_t('?');
            bytes_[size_t(summaryOffset(c, r))] = byte;
        }
    }
}

void CustomerCard::showSummaryIn(TableGrid& grid) const
{
    static_assert(SummaryColumns == std::tuple_size_v<TableGrid::RowTexts>, "a summary row is a grid row");
    const std::array<QString, 256>& texts = TableGrid::byteTexts();
    std::array<TableGrid::RowTexts, SummaryRows> rows;
    for (int r = 1; r <= SummaryRows; ++r)
        for (int c = 1; c <= SummaryColumns; ++c)
            rows[size_t(r - 1)][size_t(c - 1)] = &texts[bytes_[size_t(summaryOffset(c, r))]];
    grid.setRows(1, rows.data(), SummaryRows);
}

bool CustomerCard::surnameBefore(const CustomerCard& a, const CustomerCard& b)
{
    const int offset = layout(Field::Cognome).offset + 1;
    const int la = a.textLength(Field::Cognome);
    const int lb = b.textLength(Field::Cognome);
    const int common = std::min(la, lb);
    // memcmp compares as unsigned char, so accented letters come after Z.
    const int order = std::memcmp(a.bytes_.data() + offset, b.bytes_.data() + offset, size_t(common));
    if (order != 0)
        return order < 0;
    return la < lb;
}
