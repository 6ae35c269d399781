#pragma once

#include "device/TableFields.h"
#include "device/TableGrid.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>

// The byte layout of a box's table on the serial line, for both models, and
// the two mappings between those bytes and the grid. Nothing else in the
// program knows an offset or a nibble.
namespace codec {

enum class Model : int { None, Kolvar22, Kolvar1 };

constexpr int ImageSize = 2067;      // what the box sends after a read request
constexpr int RecordSize = 16;
constexpr int RecordCount = 127;
constexpr int ClockOffset = 2048;
constexpr int DeviceTextOffset = 2051;
constexpr int DeviceTextSize = 16;
constexpr std::uint8_t ModelByteKolvar22 = 0x55; // 'U'
constexpr std::uint8_t ModelByteKolvar1 = 0x59;  // 'Y'

using Record = std::array<std::uint8_t, RecordSize>;
using ClockBlock = std::array<std::uint8_t, 3>;

// A cell that no rule turns into a byte (empty, a letter where a digit
// belongs, a number too big for its nibble or byte): the field it belongs
// to, and its grid coordinates.
class ConversionError : public std::runtime_error
{
public:
    // `text` is the refused cell's text; what() reads
    // "'X' is not a valid value in column 15, row 4".
    ConversionError(const QString& text, fields::Field field, int column, int row);
    fields::Field field() const { return field_; }
    const QString& text() const { return text_; }
    int column() const { return column_; }
    int row() const { return row_; }

private:
    QString text_;
    fields::Field field_;
    int column_;
    int row_;
};

// Model marker of cell (1, 1): "U", "Y" or anything else.
Model modelOf(const TableGrid& grid);
// The model a first image byte announces.
Model modelOfByte(std::uint8_t b);

struct HeaderChecks
{
    bool beep = false;
    bool flash = false;
};

// Row 0 letters for a model (Kolvar22 also for start-up and for None).
void writeColumnLabels(TableGrid& grid, Model model);
// Header bytes 0..15 -> row 1 (cells 17..26 "-") and the model's column
// labels in row 0; returns the beep/flash check states the bytes imply
// (always off for Kolvar1).
//
// Decoding always overwrites every cell it covers, so the result never
// depends on what the grid held before. The decoders read exactly 16 (3 for
// the clock) bytes from the pointer they get; a table is decoded only for a
// model (Model::None throws std::invalid_argument), and association rows are
// 2..128 (other rows throw std::out_of_range, in the encoders too).
HeaderChecks decodeHeader(const std::uint8_t* header, Model model, TableGrid& grid);
// One association record -> cells 1..26 of grid row `row` (2..128).
void decodeRecord(const std::uint8_t* record, Model model, TableGrid& grid, int row);
// The box clock as shown for Kolvar22: "09:05  Mercoledi".
QString clockText(const std::uint8_t* clock);
// Sixteen bytes of device text, zero bytes left out.
QString deviceText(const std::uint8_t* text);

// Row 1 -> 16 header bytes (same rule for both models).
Record encodeHeader(const TableGrid& grid);
// Grid row -> 16 record bytes by the rules of the model. With Model::None
// there is no rule to encode by: ConversionError for cell (1, 1).
Record encodeRecord(const TableGrid& grid, int row, Model model);
// A used Kolvar22 row in the pieces a write sends it: the six prefix bytes,
// each carrier byte on its own, then six zero bytes after a carrier end mark,
// or start time, end time, and the four bytes of day, separator, line and
// terminator. `send` gets each piece as soon as it is encoded and returns
// false to stop; the result is false when it was stopped. A cell that cannot
// be encoded throws ConversionError before its piece is sent. An unused row
// ("-" in cell 1) goes out as one piece of sixteen zero bytes.
using PieceSink = std::function<bool(const std::uint8_t* bytes, int count)>;
bool encodeKolvar22Pieces(const TableGrid& grid, int row, const PieceSink& send);
// The computer's local time -> minutes, hours, weekday (1 Monday .. 7 Sunday).
// Values outside 0..23, 0..59, 1..7 throw std::out_of_range.
ClockBlock encodeClock(int hours, int minutes, int weekday);

} // namespace codec
