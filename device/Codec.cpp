#include "device/Codec.h"

#include "device/GridLayout.h"

#include <string>

namespace codec {

namespace {

namespace key = layout::key;
namespace kolvar22 = layout::kolvar22;
namespace kolvar1 = layout::kolvar1;
namespace header = layout::header;
using layout::Columns;

// Decoding writes the same few texts thousands of times per table. Literals,
// the grid's one-character texts and one table of decimals over static
// storage keep that free of allocations and of reference counting: a cell
// assignment only copies a pointer.
struct DecimalTexts
{
    char16_t chars[256][3];
    std::array<QString, 256> texts;
    DecimalTexts()
    {
        for (int i = 0; i < 256; ++i) {
            const QString digits = QString::number(i);
            for (int k = 0; k < digits.size(); ++k)
                chars[i][k] = digits.at(k).unicode();
            texts[static_cast<size_t>(i)] =
                QString::fromRawData(reinterpret_cast<const QChar*>(chars[i]), digits.size());
        }
    }
};
// At namespace scope: a function's own static would be checked for its
// first use at every one of the thousands of calls a table makes.
const DecimalTexts decimalTexts;

const QString& decimalText(int value)
{
    return decimalTexts.texts[static_cast<size_t>(value & 0xFF)];
}

const QString& letter(char c)
{
    return TableGrid::byteText(static_cast<unsigned char>(c));
}

const QString dashText = QStringLiteral("-");
const QString noText;

// A decoded row: its texts gathered by column, then set in the grid in one
// call. Every rule below names a text for each of the 26 cells.
class DecodedRow
{
public:
    const QString*& operator[](int column) { return texts_[static_cast<size_t>(column - layout::RowCells.first)]; }
    void fill(Columns columns, const QString& text)
    {
        for (int c = columns.first; c <= columns.last; ++c)
            (*this)[c] = &text;
    }
    void setIn(TableGrid& grid, int row) const { grid.setRow(row, texts_); }

private:
    TableGrid::RowTexts texts_{};
};
static_assert(layout::RowCells.first == TableGrid::FirstDataColumn
                  && layout::RowCells.width() == std::tuple_size_v<TableGrid::RowTexts>,
              "a row's texts are its data cells");

void checkRecordRow(int row)
{
    if (row < layout::FirstAssociationRow || row > layout::LastAssociationRow)
        throw std::out_of_range("association rows are 2..128, got " + std::to_string(row));
}

void checkModel(Model model)
{
    if (model == Model::None)
        throw std::invalid_argument("a table is decoded for Kolvar22 or Kolvar1");
}

// The key text of a byte or nibble where the box keeps key codes: the digit
// 0, the star and the hash by their codes; everything else shows its decimal.
// Fields differ in which of the three they recognise, so each passes its own.
enum KeyTexts { Zero = 1, Star = 2, Hash = 4 };

const QString zeroText = QStringLiteral("0");
const QString starText = QStringLiteral("*");
const QString hashText = QStringLiteral("#");

const QString& keyText(int value, int recognised)
{
    if (value == key::Zero && (recognised & Zero))
        return zeroText;
    if (value == key::Star && (recognised & Star))
        return starText;
    if (value == key::Hash && (recognised & Hash))
        return hashText;
    return decimalText(value);
}

bool isEmptyRecord(const std::uint8_t* b)
{
    return b[0] == key::Nothing && b[1] == key::Nothing && b[2] == key::Nothing;
}

// The bytes of a Kolvar22 record, in the order of its cells.
constexpr int PrefixByte = 0;
constexpr int CarrierByte = 6;
constexpr int StartTimeByte = 10;
constexpr int EndTimeByte = 11;
constexpr int TailByte = 12; // day, separator, line, terminator
static_assert(kolvar22::Prefix.width() == CarrierByte - PrefixByte, "one prefix key per byte");
static_assert(kolvar22::Carrier.width() == 2 * (StartTimeByte - CarrierByte), "two carrier keys per byte");
static_assert(kolvar22::TerminatorColumn - kolvar22::DayTypeColumn == RecordSize - 1 - TailByte,
              "day, separator, line and terminator one byte each");
static_assert(kolvar1::Keys.width() == RecordSize, "one Kolvar1 key per byte");
static_assert(header::Record.width() == RecordSize, "one header cell per byte");

// Header bytes that are not key codes.
constexpr int ManagementManual = 0;
constexpr int ManagementAutomatic = 1;
constexpr int SwitchOn = 1; // beep, flash

// Four time cells: a count of half hours shown as HHMM.
void decodeTime(int value, DecodedRow& texts, Columns cells)
{
    texts[cells.first] = &decimalText(value / 20);
    texts[cells.first + 1] = &decimalText((value % 20) / 2);
    texts[cells.first + 2] = &decimalText(value % 2 ? 3 : 0);
    texts[cells.first + 3] = &decimalText(0);
}

void decodeKolvar22Record(const std::uint8_t* b, DecodedRow& texts)
{
    for (int c = kolvar22::Prefix.first; c <= kolvar22::Prefix.last; ++c)
        texts[c] = &keyText(b[PrefixByte + c - kolvar22::Prefix.first], Zero | Star);

    bool carrierEnd = false;
    for (int i = 0; i < kolvar22::Carrier.width() / 2; ++i) {
        const int nibbles[2] = { b[CarrierByte + i] >> 4, b[CarrierByte + i] & 0x0F };
        for (int n = 0; n < 2; ++n) {
            texts[kolvar22::Carrier.first + 2 * i + n] = &keyText(nibbles[n], Zero | Star | Hash);
            if (nibbles[n] == key::CarrierEnd)
                carrierEnd = true;
        }
    }
    if (carrierEnd) {
        // A code ended by its mark carries no time, day or line.
        texts.fill(kolvar22::AfterCarrierEnd, dashText);
        return;
    }

    decodeTime(b[StartTimeByte], texts, kolvar22::StartTime);
    decodeTime(b[EndTimeByte], texts, kolvar22::EndTime);
    texts[kolvar22::DayTypeColumn] = &keyText(b[TailByte], Zero);
    texts[kolvar22::SeparatorColumn] = b[TailByte + 1] == key::Star ? &keyText(key::Star, Star) : &noText;
    texts[kolvar22::LineColumn] = &keyText(b[TailByte + 2], Zero);
    texts[kolvar22::TerminatorColumn] = b[TailByte + 3] == key::Hash ? &keyText(key::Hash, Hash) : &noText;
}

void decodeKolvar1Record(const std::uint8_t* b, DecodedRow& texts)
{
    int c = kolvar1::Keys.first;
    for (; c <= kolvar1::Keys.last; ++c) {
        const int value = b[c - kolvar1::Keys.first];
        texts[c] = &keyText(value, Zero | Star | Hash);
        if (value == key::Hash) {
            ++c;
            break;
        }
    }
    texts.fill({ c, layout::RowCells.last }, dashText);
}

// --- encoding ---------------------------------------------------------------

// Only plain decimal digits make a number: no sign, no space, no other
// script's digits. Returns -1 for anything else and for values above `max`.
// A number above what its byte or nibble can hold would not just be wrong in
// its own field: shifted or or-ed into the record it spills into the
// neighbouring nibble or byte, so it is refused rather than truncated.
int decimalValue(const QString& text, int max)
{
    const qsizetype size = text.size();
    const QChar* chars = text.constData();
    if (size == 1) { // most cells: one digit
        const int digit = chars[0].unicode() - u'0';
        return digit >= 0 && digit <= 9 && digit <= max ? digit : -1;
    }
    int value = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = chars[i].unicode();
        if (u < u'0' || u > u'9')
            return -1;
        value = value * 10 + (u - u'0');
        if (value > max)
            return -1;
    }
    return size > 0 ? value : -1;
}

// Out of line: the encoders' loops stay small, and a refusal is rare.
[[noreturn]] Q_DECL_COLD_FUNCTION Q_NEVER_INLINE void refuseCell(const TableGrid& grid, int column, int row)
{
    throw ConversionError(grid.cell(column, row), fields::fieldAt(grid, column, row), column, row);
}

// The cells of the row being encoded, by column. The row was checked once,
// so no cell is looked up through the grid's bounds checks again; the grid
// is still at hand to name the field of a cell that is refused.
class EncodedRow
{
public:
    EncodedRow(const TableGrid& grid, int row)
        : grid_(grid)
        , cells_(grid.row(row))
        , row_(row)
    {
    }

    const QString& operator[](int column) const { return cells_[column]; }

    [[noreturn]] void refuse(int column) const { refuseCell(grid_, column, row_); }

    int decimal(int column, int max) const
    {
        const int value = decimalValue(cells_[column], max);
        if (value < 0)
            refuse(column);
        return value;
    }

    // The common case of a key-code byte: "0", "*" and "#" by their codes,
    // otherwise a decimal 0..255. `dashIsZero` for the fields where "-"
    // marks an unused position.
    std::uint8_t keyByte(int column, bool hashAllowed, bool dashIsZero) const
    {
        const QString& text = cells_[column];
        if (text.size() == 1) {
            switch (text.front().unicode()) {
            case layout::cell::Zero:
                return key::Zero;
            case layout::cell::Star:
                return key::Star;
            case layout::cell::Hash:
                if (hashAllowed)
                    return key::Hash;
                break;
            case layout::cell::Nothing:
                if (dashIsZero)
                    return key::Nothing;
                break;
            default:
                break;
            }
        }
        return static_cast<std::uint8_t>(decimal(column, 255));
    }

    // One carrier cell: a nibble 0..15 ("0" is the digit 0, not the nibble 0).
    int carrierNibble(int column, bool& end) const
    {
        const QString& text = cells_[column];
        if (text.size() == 1) {
            switch (text.front().unicode()) {
            case layout::cell::Star:
                return key::Star;
            case layout::cell::Hash:
                end = true;
                return key::CarrierEnd;
            case layout::cell::Zero:
                return key::Zero;
            default:
                break;
            }
        }
        return decimal(column, 15);
    }

    // Cells first..first+2 as hours tens, hours units and minutes tens; the
    // fourth cell is never read. The sum must still fit its byte.
    std::uint8_t timeByte(Columns cells) const
    {
        const int first = cells.first;
        int total = 0;
        const auto add = [&](int column, int amount) {
            total += amount;
            if (total > 255)
                refuse(column);
        };
        add(first, 20 * decimal(first, 255));
        add(first + 1, 2 * decimal(first + 1, 255));
        add(first + 2, decimal(first + 2, 255) / 3);
        return static_cast<std::uint8_t>(total);
    }

    std::uint8_t headerByte(int column) const
    {
        const QString& text = cells_[column];
        if (text.size() == 1) {
            switch (text.front().unicode()) {
            case layout::cell::Nothing:
                return key::Nothing;
            case layout::cell::Hash:
                return key::Hash;
            case layout::cell::Zero:
                return key::Zero;
            case header::Kolvar22Marker:
                return ModelByteKolvar22;
            case header::Kolvar1Marker:
                return ModelByteKolvar1;
            case header::Automatic:
                return ManagementAutomatic;
            case header::Manual:
                return ManagementManual;
            case header::BeepOn:
                return SwitchOn;
            case header::FlashOn:
                return SwitchOn;
            default:
                break;
            }
        }
        return static_cast<std::uint8_t>(decimal(column, 255));
    }

    bool unused() const { return layout::cell::holds(cells_[layout::RowCells.first], layout::cell::Nothing); }

private:
    const TableGrid& grid_;
    const QString* cells_;
    int row_;
};

// A used Kolvar22 row goes out in pieces, each as soon as its cells are
// encoded. A template so that encodeRecord collects them without a
// std::function call per piece.
template <typename Sink>
bool kolvar22Pieces(const TableGrid& grid, int row, Sink&& send)
{
    const EncodedRow cells(grid, row);
    if (cells.unused()) {
        const std::uint8_t zeros[RecordSize] = {};
        return send(zeros, RecordSize);
    }

    std::uint8_t prefix[kolvar22::Prefix.width()];
    for (int c = kolvar22::Prefix.first; c <= kolvar22::Prefix.last; ++c)
        prefix[c - kolvar22::Prefix.first] = cells.keyByte(c, false, false);
    if (!send(prefix, kolvar22::Prefix.width()))
        return false;

    bool carrierEnd = false;
    for (int c = kolvar22::Carrier.first; c < kolvar22::Carrier.last; c += 2) {
        const int high = cells.carrierNibble(c, carrierEnd);
        const int low = cells.carrierNibble(c + 1, carrierEnd);
        const std::uint8_t b = static_cast<std::uint8_t>(high << 4 | low);
        if (!send(&b, 1))
            return false;
    }

    if (carrierEnd) {
        const std::uint8_t zeros[RecordSize - StartTimeByte] = {};
        return send(zeros, RecordSize - StartTimeByte);
    }

    const std::uint8_t start = cells.timeByte(kolvar22::StartTime);
    if (!send(&start, 1))
        return false;
    const std::uint8_t end = cells.timeByte(kolvar22::EndTime);
    if (!send(&end, 1))
        return false;
    std::uint8_t tail[RecordSize - TailByte];
    for (int c = kolvar22::DayTypeColumn; c <= kolvar22::TerminatorColumn; ++c)
        tail[c - kolvar22::DayTypeColumn] = cells.keyByte(c, true, false);
    return send(tail, RecordSize - TailByte);
}

const char* const dayNames[7] = { "Lunedi", "Martedi", "Mercoledi", "Giovedi", "Venerdi", "Sabato", "Domenica" };

} // namespace

ConversionError::ConversionError(const QString& text, fields::Field field, int column, int row)
    : std::runtime_error(QStringLiteral("'%1' is not a valid value in column %2, row %3")
                             .arg(text, QString::number(column), QString::number(row))
                             .toStdString())
    , text_(text)
    , field_(field)
    , column_(column)
    , row_(row)
{
}

Model modelOf(const TableGrid& grid)
{
    const QString& marker = grid.cell(header::ModelColumn, layout::HeaderRow);
    if (layout::cell::holds(marker, header::Kolvar22Marker))
        return Model::Kolvar22;
    if (layout::cell::holds(marker, header::Kolvar1Marker))
        return Model::Kolvar1;
    return Model::None;
}

Model modelOfByte(std::uint8_t b)
{
    if (b == ModelByteKolvar22)
        return Model::Kolvar22;
    if (b == ModelByteKolvar1)
        return Model::Kolvar1;
    return Model::None;
}

void writeColumnLabels(TableGrid& grid, Model model)
{
    // Columns 1..26. Kolvar1 marks where its star and hash usually fall and
    // has no time, day or line columns.
    static const char kolvar22[] = "PREF. GEST.   DA: A:  G L ";
    static const char kolvar1[] = "PREF* GEST#               ";
    static_assert(sizeof kolvar22 == 27 && sizeof kolvar1 == 27, "one letter per data column");
    const char* const labels = model == Model::Kolvar1 ? kolvar1 : kolvar22;
    DecodedRow texts;
    for (int c = layout::RowCells.first; c <= layout::RowCells.last; ++c) {
        const char ch = labels[c - layout::RowCells.first];
        texts[c] = ch == ' ' ? &noText : &letter(ch);
    }
    texts.setIn(grid, 0);
}

HeaderChecks decodeHeader(const std::uint8_t* h, Model model, TableGrid& grid)
{
    checkModel(model);
    const bool big = model == Model::Kolvar22;
    const QString& hash = keyText(key::Hash, Hash);
    const QString& zero = keyText(key::Zero, Zero);
    // Header cell c holds header byte c - 1.
    const auto byteOf = [h](int column) { return h[column - header::Record.first]; };
    writeColumnLabels(grid, model);

    DecodedRow texts;
    texts[header::ModelColumn] = &letter(static_cast<char>(byteOf(header::ModelColumn)));
    texts[header::FirstSeparatorColumn] = byteOf(header::FirstSeparatorColumn) == key::Hash ? &hash : &noText;
    const int management = byteOf(header::ManagementColumn);
    texts[header::ManagementColumn] = management == ManagementManual        ? &letter(header::Manual)
                                      : management == ManagementAutomatic ? &letter(header::Automatic)
                                                                          : &noText;
    texts[header::SecondSeparatorColumn] = byteOf(header::SecondSeparatorColumn) == key::Hash ? &hash : &noText;

    // Local prefix: a hash ends it, and what follows is shown as unused
    // unless it is itself a 0 or a hash.
    bool ended = false;
    for (int c = header::LocalPrefixCodes.first; c <= header::LocalPrefixCodes.last; ++c) {
        const int value = byteOf(c);
        if (value == key::Zero)
            texts[c] = &zero;
        else if (value == key::Hash) {
            texts[c] = &hash;
            ended = true;
        } else
            texts[c] = ended ? &dashText : &decimalText(value);
    }

    HeaderChecks checks;
    if (big) {
        const int ninth = byteOf(header::LocalPrefixNinthColumn);
        texts[header::LocalPrefixNinthColumn] = ninth == key::Hash ? &hash : ninth == key::Nothing ? &dashText : &noText;
        texts[header::UnusedColumn] = &dashText;
        checks.beep = byteOf(header::BeepColumn) == SwitchOn;
        checks.flash = byteOf(header::FlashColumn) == SwitchOn;
        texts[header::BeepColumn] = &letter(checks.beep ? header::BeepOn : header::Off);
        texts[header::FlashColumn] = &letter(checks.flash ? header::FlashOn : header::Off);
    } else {
        texts.fill({ header::LocalPrefixNinthColumn, header::FlashColumn }, dashText);
    }
    texts.fill(header::Trailer, dashText);
    texts.setIn(grid, layout::HeaderRow);
    return checks;
}

void decodeRecord(const std::uint8_t* record, Model model, TableGrid& grid, int row)
{
    checkModel(model);
    checkRecordRow(row);
    DecodedRow texts;
    if (isEmptyRecord(record))
        texts.fill(layout::RowCells, dashText);
    else if (model == Model::Kolvar22)
        decodeKolvar22Record(record, texts);
    else
        decodeKolvar1Record(record, texts);
    texts.setIn(grid, row);
}

QString clockText(const std::uint8_t* clock)
{
    const int minutes = clock[0];
    const int hours = clock[1];
    const int weekday = clock[2];
    QString text = decimalText(hours >> 4) + decimalText(hours & 0x0F) + QLatin1Char(':')
        + decimalText(minutes >> 4) + decimalText(minutes & 0x0F) + QLatin1String("  ");
    if (weekday >= 1 && weekday <= 7)
        text += QLatin1String(dayNames[weekday - 1]);
    return text;
}

QString deviceText(const std::uint8_t* text)
{
    QString result;
    result.reserve(DeviceTextSize);
    for (int i = 0; i < DeviceTextSize; ++i)
        if (text[i] != 0)
            result += QChar(static_cast<char16_t>(text[i]));
    return result;
}

Record encodeHeader(const TableGrid& grid)
{
    const EncodedRow cells(grid, layout::HeaderRow);
    Record bytes{};
    for (int c = header::Record.first; c <= header::Record.last; ++c)
        bytes[static_cast<size_t>(c - header::Record.first)] = cells.headerByte(c);
    return bytes;
}

Record encodeRecord(const TableGrid& grid, int row, Model model)
{
    checkRecordRow(row);
    Record bytes{};
    if (model == Model::Kolvar22) {
        size_t at = 0;
        kolvar22Pieces(grid, row, [&](const std::uint8_t* piece, int count) {
            for (int i = 0; i < count && at < bytes.size(); ++i)
                bytes[at++] = piece[i];
            return true;
        });
        return bytes;
    }
    if (model == Model::None) // the marker cell holds no model to encode by
        refuseCell(grid, header::ModelColumn, layout::HeaderRow);

    const EncodedRow cells(grid, row);
    if (cells.unused())
        return bytes;
    for (int c = kolvar1::Keys.first; c <= kolvar1::Keys.last; ++c)
        bytes[static_cast<size_t>(c - kolvar1::Keys.first)] = cells.keyByte(c, true, true);
    return bytes;
}

bool encodeKolvar22Pieces(const TableGrid& grid, int row, const PieceSink& send)
{
    checkRecordRow(row);
    return kolvar22Pieces(grid, row, send);
}

ClockBlock encodeClock(int hours, int minutes, int weekday)
{
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || weekday < 1 || weekday > 7)
        throw std::out_of_range("clock reading out of range");
    const auto bcd = [](int v) { return static_cast<std::uint8_t>((v / 10) * 16 + v % 10); };
    return { bcd(minutes), bcd(hours), static_cast<std::uint8_t>(weekday) };
}

} // namespace codec
