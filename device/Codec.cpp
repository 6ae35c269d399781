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

// Decoding writes the same few texts thousands of times per table. Literals
// and one table of decimals over static storage keep that free of
// allocations and of reference counting: a cell assignment only copies a
// pointer.
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

QString dash() { return QStringLiteral("-"); }
QString none() { return QString(); }

void fill(TableGrid& grid, int row, Columns columns, const QString& text)
{
    for (int c = columns.first; c <= columns.last; ++c)
        grid.setCell(c, row, text);
}

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
void decodeTime(int value, TableGrid& grid, int row, Columns cells)
{
    grid.setCell(cells.first, row, decimalText(value / 20));
    grid.setCell(cells.first + 1, row, decimalText((value % 20) / 2));
    grid.setCell(cells.first + 2, row, decimalText(value % 2 ? 3 : 0));
    grid.setCell(cells.first + 3, row, decimalText(0));
}

void decodeKolvar22Record(const std::uint8_t* b, TableGrid& grid, int row)
{
    for (int c = kolvar22::Prefix.first; c <= kolvar22::Prefix.last; ++c)
        grid.setCell(c, row, keyText(b[PrefixByte + c - kolvar22::Prefix.first], Zero | Star));

    bool carrierEnd = false;
    for (int i = 0; i < kolvar22::Carrier.width() / 2; ++i) {
        const int nibbles[2] = { b[CarrierByte + i] >> 4, b[CarrierByte + i] & 0x0F };
        for (int n = 0; n < 2; ++n) {
            grid.setCell(kolvar22::Carrier.first + 2 * i + n, row, keyText(nibbles[n], Zero | Star | Hash));
            if (nibbles[n] == key::CarrierEnd)
                carrierEnd = true;
        }
    }
    if (carrierEnd) {
        // A code ended by its mark carries no time, day or line.
        fill(grid, row, kolvar22::AfterCarrierEnd, dash());
        return;
    }

    decodeTime(b[StartTimeByte], grid, row, kolvar22::StartTime);
    decodeTime(b[EndTimeByte], grid, row, kolvar22::EndTime);
    grid.setCell(kolvar22::DayTypeColumn, row, keyText(b[TailByte], Zero));
    grid.setCell(kolvar22::SeparatorColumn, row, b[TailByte + 1] == key::Star ? keyText(key::Star, Star) : none());
    grid.setCell(kolvar22::LineColumn, row, keyText(b[TailByte + 2], Zero));
    grid.setCell(kolvar22::TerminatorColumn, row, b[TailByte + 3] == key::Hash ? keyText(key::Hash, Hash) : none());
}

void decodeKolvar1Record(const std::uint8_t* b, TableGrid& grid, int row)
{
    int c = kolvar1::Keys.first;
    for (; c <= kolvar1::Keys.last; ++c) {
        const int value = b[c - kolvar1::Keys.first];
        grid.setCell(c, row, keyText(value, Zero | Star | Hash));
        if (value == key::Hash) {
            ++c;
            break;
        }
    }
    fill(grid, row, { c, layout::RowCells.last }, dash());
}

// --- encoding ---------------------------------------------------------------

// Only plain decimal digits make a number: no sign, no space, no other
// script's digits. Returns -1 for anything else and for values above `max`.
// A number above what its byte or nibble can hold would not just be wrong in
// its own field: shifted or or-ed into the record it spills into the
// neighbouring nibble or byte, so it is refused rather than truncated.
int decimalValue(const QString& text, int max)
{
    if (text.isEmpty())
        return -1;
    int value = 0;
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < u'0' || u > u'9')
            return -1;
        value = value * 10 + (u - u'0');
        if (value > max)
            return -1;
    }
    return value;
}

[[noreturn]] void refuse(const TableGrid& grid, int column, int row)
{
    throw ConversionError(grid.cell(column, row), fields::fieldAt(grid, column, row), column, row);
}

int decimalCell(const TableGrid& grid, int column, int row, int max)
{
    const int value = decimalValue(grid.cell(column, row), max);
    if (value < 0)
        refuse(grid, column, row);
    return value;
}

// The common case of a key-code byte: "0", "*" and "#" by their codes,
// otherwise a decimal 0..255. `dashIsZero` for the fields where "-" marks an
// unused position.
std::uint8_t keyByte(const TableGrid& grid, int column, int row, bool hashAllowed, bool dashIsZero)
{
    const QString& text = grid.cell(column, row);
    if (text.size() == 1) {
        switch (text.at(0).unicode()) {
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
    return static_cast<std::uint8_t>(decimalCell(grid, column, row, 255));
}

// One carrier cell: a nibble 0..15 ("0" is the digit 0, not the nibble 0).
int carrierNibble(const TableGrid& grid, int column, int row, bool& end)
{
    const QString& text = grid.cell(column, row);
    if (text.size() == 1) {
        switch (text.at(0).unicode()) {
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
    return decimalCell(grid, column, row, 15);
}

// Cells first..first+2 as hours tens, hours units and minutes tens; the
// fourth cell is never read. The sum must still fit its byte.
std::uint8_t timeByte(const TableGrid& grid, int row, Columns cells)
{
    const int first = cells.first;
    int total = 0;
    const auto add = [&](int column, int amount) {
        total += amount;
        if (total > 255)
            refuse(grid, column, row);
    };
    add(first, 20 * decimalCell(grid, first, row, 255));
    add(first + 1, 2 * decimalCell(grid, first + 1, row, 255));
    add(first + 2, decimalCell(grid, first + 2, row, 255) / 3);
    return static_cast<std::uint8_t>(total);
}

std::uint8_t headerByte(const TableGrid& grid, int column)
{
    const QString& text = grid.cell(column, layout::HeaderRow);
    if (text.size() == 1) {
        switch (text.at(0).unicode()) {
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
    return static_cast<std::uint8_t>(decimalCell(grid, column, layout::HeaderRow, 255));
}

// A used Kolvar22 row goes out in pieces, each as soon as its cells are
// encoded. A template so that encodeRecord collects them without a
// std::function call per piece.
template <typename Sink>
bool kolvar22Pieces(const TableGrid& grid, int row, Sink&& send)
{
    if (layout::cell::holds(grid.cell(layout::RowCells.first, row), layout::cell::Nothing)) {
        const std::uint8_t zeros[RecordSize] = {};
        return send(zeros, RecordSize);
    }

    std::uint8_t prefix[kolvar22::Prefix.width()];
    for (int c = kolvar22::Prefix.first; c <= kolvar22::Prefix.last; ++c)
        prefix[c - kolvar22::Prefix.first] = keyByte(grid, c, row, false, false);
    if (!send(prefix, kolvar22::Prefix.width()))
        return false;

    bool carrierEnd = false;
    for (int c = kolvar22::Carrier.first; c < kolvar22::Carrier.last; c += 2) {
        const int high = carrierNibble(grid, c, row, carrierEnd);
        const int low = carrierNibble(grid, c + 1, row, carrierEnd);
        const std::uint8_t b = static_cast<std::uint8_t>(high << 4 | low);
        if (!send(&b, 1))
            return false;
    }

    if (carrierEnd) {
        const std::uint8_t zeros[RecordSize - StartTimeByte] = {};
        return send(zeros, RecordSize - StartTimeByte);
    }

    const std::uint8_t start = timeByte(grid, row, kolvar22::StartTime);
    if (!send(&start, 1))
        return false;
    const std::uint8_t end = timeByte(grid, row, kolvar22::EndTime);
    if (!send(&end, 1))
        return false;
    std::uint8_t tail[RecordSize - TailByte];
    for (int c = kolvar22::DayTypeColumn; c <= kolvar22::TerminatorColumn; ++c)
        tail[c - kolvar22::DayTypeColumn] = keyByte(grid, c, row, true, false);
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
    for (int c = layout::RowCells.first; c <= layout::RowCells.last; ++c) {
        const char ch = labels[c - layout::RowCells.first];
        grid.setCell(c, 0, ch == ' ' ? none() : QString(QLatin1Char(ch)));
    }
}

HeaderChecks decodeHeader(const std::uint8_t* h, Model model, TableGrid& grid)
{
    checkModel(model);
    const bool big = model == Model::Kolvar22;
    const QString hash = keyText(key::Hash, Hash);
    const QString zero = keyText(key::Zero, Zero);
    const auto letter = [](char c) { return QString(QLatin1Char(c)); };
    constexpr int row = layout::HeaderRow;
    // Header cell c holds header byte c - 1.
    const auto byteOf = [h](int column) { return h[column - header::Record.first]; };
    writeColumnLabels(grid, model);

    grid.setCell(header::ModelColumn, row, letter(static_cast<char>(byteOf(header::ModelColumn))));
    grid.setCell(header::FirstSeparatorColumn, row, byteOf(header::FirstSeparatorColumn) == key::Hash ? hash : none());
    const int management = byteOf(header::ManagementColumn);
    grid.setCell(header::ManagementColumn, row,
                 management == ManagementManual        ? letter(header::Manual)
                     : management == ManagementAutomatic ? letter(header::Automatic)
                                                         : none());
    grid.setCell(header::SecondSeparatorColumn, row, byteOf(header::SecondSeparatorColumn) == key::Hash ? hash : none());

    // Local prefix: a hash ends it, and what follows is shown as unused
    // unless it is itself a 0 or a hash.
    bool ended = false;
    for (int c = header::LocalPrefixCodes.first; c <= header::LocalPrefixCodes.last; ++c) {
        const int value = byteOf(c);
        if (value == key::Zero)
            grid.setCell(c, row, zero);
        else if (value == key::Hash) {
            grid.setCell(c, row, hash);
            ended = true;
        } else
            grid.setCell(c, row, ended ? dash() : decimalText(value));
    }

    HeaderChecks checks;
    if (big) {
        const int ninth = byteOf(header::LocalPrefixNinthColumn);
        grid.setCell(header::LocalPrefixNinthColumn, row,
                     ninth == key::Hash ? hash : ninth == key::Nothing ? dash() : none());
        grid.setCell(header::UnusedColumn, row, dash());
        checks.beep = byteOf(header::BeepColumn) == SwitchOn;
        checks.flash = byteOf(header::FlashColumn) == SwitchOn;
        grid.setCell(header::BeepColumn, row, checks.beep ? letter(header::BeepOn) : letter(header::Off));
        grid.setCell(header::FlashColumn, row, checks.flash ? letter(header::FlashOn) : letter(header::Off));
    } else {
        fill(grid, row, { header::LocalPrefixNinthColumn, header::FlashColumn }, dash());
    }
    fill(grid, row, header::Trailer, dash());
    return checks;
}

void decodeRecord(const std::uint8_t* record, Model model, TableGrid& grid, int row)
{
    checkModel(model);
    checkRecordRow(row);
    if (isEmptyRecord(record)) {
        fill(grid, row, layout::RowCells, dash());
        return;
    }
    if (model == Model::Kolvar22)
        decodeKolvar22Record(record, grid, row);
    else
        decodeKolvar1Record(record, grid, row);
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
    Record bytes{};
    for (int c = header::Record.first; c <= header::Record.last; ++c)
        bytes[static_cast<size_t>(c - header::Record.first)] = headerByte(grid, c);
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
        refuse(grid, header::ModelColumn, layout::HeaderRow);

    if (layout::cell::holds(grid.cell(layout::RowCells.first, row), layout::cell::Nothing))
        return bytes;
    for (int c = kolvar1::Keys.first; c <= kolvar1::Keys.last; ++c)
        bytes[static_cast<size_t>(c - kolvar1::Keys.first)] = keyByte(grid, c, row, true, true);
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
