#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <type_traits>

class TableGrid;

// One customer of the address book as it lies in RUBRICA.DAT: 3454 bytes, no
// padding, the same layout on every installation, so books copied between
// machines read alike. Seven length-prefixed texts (a length byte, then
// `capacity` character bytes, of which the first `length` count), then the
// programming summary: one byte for each data cell of the table, row by row.
class CustomerCard
{
public:
    static constexpr int Size = 3454;

    enum class Field { Nome, Cognome, Numero, Indirizzo, Citta, Provincia, Cap };
    static constexpr int FieldCount = 7;

    struct Layout
    {
        int offset;   // of the length byte
        int capacity; // characters after it
    };
    static constexpr Layout layout(Field field)
    {
        constexpr Layout table[FieldCount] = {
            { 0, 20 },   // Nome
            { 21, 20 },  // Cognome
            { 42, 20 },  // Numero
            { 63, 30 },  // Indirizzo
            { 94, 20 },  // Citta
            { 115, 4 },  // Provincia
            { 120, 5 },  // Cap
        };
        return table[static_cast<int>(field)];
    }

    // The summary: 128 rows of 26 bytes, grid cell (c, r) at summaryOffset(c, r).
    static constexpr int SummaryOffset = 126;
    static constexpr int SummaryColumns = 26;
    static constexpr int SummaryRows = 128;
    static constexpr bool inSummary(int column, int row)
    {
        return column >= 1 && column <= SummaryColumns && row >= 1 && row <= SummaryRows;
    }
    static constexpr int summaryOffset(int column, int row)
    {
        return SummaryOffset + (row - 1) * SummaryColumns + (column - 1);
    }

    // What an empty grid cell is stored as: the code 0. It reads back as the
    // cell holding the code 0, which both grids show blank and a write to the
    // box refuses just as it refuses an empty cell, the same stand-in the table
    // files use. A "-" instead would read back as "nothing" and turn a header
    // cell the box's bytes left undecided into a silent 0 on the next write.
    static constexpr std::uint8_t EmptyCellByte = 0;

    // A card of zero bytes: every text empty, every summary cell the code 0.
    CustomerCard() = default;

    // The text as stored, Windows-1252; a length byte above the field's
    // capacity counts as the capacity.
    QString text(Field field) const;
    int textLength(Field field) const;
    // Stores the text as Windows-1252 (a character without a byte there is
    // stored as '?'), cut to the field's capacity. The bytes after the text
    // are zeroed, so nothing of an earlier customer lingers in the file.
    void setText(Field field, const QString& text);

    // Outside columns 1..26 / rows 1..128 reads the code 0 and ignores writes.
    std::uint8_t summaryByte(int column, int row) const;
    void setSummaryByte(int column, int row, std::uint8_t byte);

    // Every data cell of the grid into the summary: the first character of the
    // cell (the grid's characters are bytes), EmptyCellByte for an empty cell,
    // '?' for a character that is no byte.
    void takeSummaryFrom(const TableGrid& grid);
    // Every summary byte into the same data cell of the grid as a one-character
    // text, whatever its value; the grid hears of it as one change, or of
    // none when it already showed this summary.
    void showSummaryIn(TableGrid& grid) const;

    const std::uint8_t* data() const { return bytes_.data(); }
    std::uint8_t* data() { return bytes_.data(); }

    // Surname order for sorting the book: byte by byte as unsigned codes, a
    // surname that is the start of a longer one first.
    static bool surnameBefore(const CustomerCard& a, const CustomerCard& b);

    bool operator==(const CustomerCard& other) const { return bytes_ == other.bytes_; }
    bool operator!=(const CustomerCard& other) const { return bytes_ != other.bytes_; }

private:
    std::array<std::uint8_t, Size> bytes_{};
};

static_assert(sizeof(CustomerCard) == CustomerCard::Size, "a card is exactly its bytes in the file");
static_assert(std::is_trivially_copyable_v<CustomerCard>, "cards are read and written as raw bytes");
static_assert(CustomerCard::summaryOffset(CustomerCard::SummaryColumns, CustomerCard::SummaryRows) == CustomerCard::Size - 1,
              "the summary ends the card");
