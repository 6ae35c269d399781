#include "device/Codec.h"

#include <string>

namespace codec {

namespace {

// Decoding writes the same few texts thousands of times per table. Literals
// and one table of decimals over static storage keep that free of
// allocations and of reference counting: a cell assignment only copies a
// pointer.
const QString& decimalText(int value)
{
    struct Table
    {
        char16_t chars[256][3];
        std::array<QString, 256> texts;
        Table()
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
    static const Table table;
    return table.texts[static_cast<size_t>(value & 0xFF)];
}

QString dash() { return QStringLiteral("-"); }
QString none() { return QString(); }

void fill(TableGrid& grid, int row, int first, int last, const QString& text)
{
    for (int c = first; c <= last; ++c)
        grid.setCell(c, row, text);
}

void checkRecordRow(int row)
{
    if (row < 2 || row > TableGrid::LastDataRow)
        throw std::out_of_range("association rows are 2..128, got " + std::to_string(row));
}

void checkModel(Model model)
{
    if (model == Model::None)
        throw std::invalid_argument("a table is decoded for Kolvar22 or Kolvar1");
}

// The key text of a byte or nibble where the box keeps key codes: 10 is the
// digit 0, 11 the star and 12 the hash; everything else shows its decimal.
// Fields differ in which of the three they recognise, so each passes its own.
enum KeyTexts { Zero = 1, Star = 2, Hash = 4 };

const QString& keyText(int value, int recognised)
{
    static const QString zero = QStringLiteral("0");
    static const QString star = QStringLiteral("*");
    static const QString hash = QStringLiteral("#");
    if (value == 10 && (recognised & Zero))
        return zero;
    if (value == 11 && (recognised & Star))
        return star;
    if (value == 12 && (recognised & Hash))
        return hash;
    return decimalText(value);
}

bool isEmptyRecord(const std::uint8_t* b)
{
    return b[0] == 0 && b[1] == 0 && b[2] == 0;
}

// Cells 15..18 or 19..22: a count of half hours shown as HHMM.
void decodeTime(int value, TableGrid& grid, int row, int firstColumn)
{
    grid.setCell(firstColumn, row, decimalText(value / 20));
    grid.setCell(firstColumn + 1, row, decimalText((value % 20) / 2));
    grid.setCell(firstColumn + 2, row, decimalText(value % 2 ? 3 : 0));
    grid.setCell(firstColumn + 3, row, decimalText(0));
}

void decodeKolvar22Record(const std::uint8_t* b, TableGrid& grid, int row)
{
    for (int i = 0; i < 6; ++i)
        grid.setCell(i + 1, row, keyText(b[i], Zero | Star));

    bool carrierEnd = false;
    for (int i = 0; i < 4; ++i) {
        const int nibbles[2] = { b[6 + i] >> 4, b[6 + i] & 0x0F };
        for (int n = 0; n < 2; ++n) {
            grid.setCell(7 + 2 * i + n, row, keyText(nibbles[n], Zero | Star | Hash));
            if (nibbles[n] == 12)
                carrierEnd = true;
        }
    }
    if (carrierEnd) {
        // A code ended by its mark carries no time, day or line.
        fill(grid, row, 15, 26, dash());
        return;
    }

    decodeTime(b[10], grid, row, 15);
    decodeTime(b[11], grid, row, 19);
    grid.setCell(23, row, keyText(b[12], Zero));
    grid.setCell(24, row, b[13] == 11 ? QStringLiteral("*") : none());
    grid.setCell(25, row, keyText(b[14], Zero));
    grid.setCell(26, row, b[15] == 12 ? QStringLiteral("#") : none());
}

void decodeKolvar1Record(const std::uint8_t* b, TableGrid& grid, int row)
{
    int c = 1;
    for (; c <= 16; ++c) {
        const int value = b[c - 1];
        grid.setCell(c, row, keyText(value, Zero | Star | Hash));
        if (value == 12) {
            ++c;
            break;
        }
    }
    fill(grid, row, c, 26, dash());
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
    throw ConversionError(grid.cell(column, row), column, row);
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
        case u'0':
            return 10;
        case u'*':
            return 11;
        case u'#':
            if (hashAllowed)
                return 12;
            break;
        case u'-':
            if (dashIsZero)
                return 0;
            break;
        default:
            break;
        }
    }
    return static_cast<std::uint8_t>(decimalCell(grid, column, row, 255));
}

// One carrier cell: a nibble 0..15 ("0" is the digit 0, code 10).
int carrierNibble(const TableGrid& grid, int column, int row, bool& end)
{
    const QString& text = grid.cell(column, row);
    if (text.size() == 1) {
        switch (text.at(0).unicode()) {
        case u'*':
            return 11;
        case u'#':
            end = true;
            return 12;
        case u'0':
            return 10;
        default:
            break;
        }
    }
    return decimalCell(grid, column, row, 15);
}

// Cells first..first+2 as hours tens, hours units and minutes tens; the
// fourth cell is never read. The sum must still fit its byte.
std::uint8_t timeByte(const TableGrid& grid, int row, int first)
{
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
    const QString& text = grid.cell(column, 1);
    if (text.size() == 1) {
        switch (text.at(0).unicode()) {
        case u'-':
            return 0;
        case u'#':
            return 12;
        case u'0':
            return 10;
        case u'U':
            return ModelByteKolvar22;
        case u'Y':
            return ModelByteKolvar1;
        case u'A':
            return 1;
        case u'M':
            return 0;
        case u'B':
            return 1;
        case u'F':
            return 1;
        default:
            break;
        }
    }
    return static_cast<std::uint8_t>(decimalCell(grid, column, 1, 255));
}

// A used Kolvar22 row goes out in pieces, each as soon as its cells are
// encoded. A template so that encodeRecord collects them without a
// std::function call per piece.
template <typename Sink>
bool kolvar22Pieces(const TableGrid& grid, int row, Sink&& send)
{
    if (grid.cell(1, row) == QLatin1String("-")) {
        const std::uint8_t zeros[RecordSize] = {};
        return send(zeros, RecordSize);
    }

    std::uint8_t prefix[6];
    for (int c = 1; c <= 6; ++c)
        prefix[c - 1] = keyByte(grid, c, row, false, false);
    if (!send(prefix, 6))
        return false;

    bool carrierEnd = false;
    for (int c = 7; c <= 13; c += 2) {
        const int high = carrierNibble(grid, c, row, carrierEnd);
        const int low = carrierNibble(grid, c + 1, row, carrierEnd);
        const std::uint8_t b = static_cast<std::uint8_t>(high << 4 | low);
        if (!send(&b, 1))
            return false;
    }

    if (carrierEnd) {
        const std::uint8_t zeros[6] = {};
        return send(zeros, 6);
    }

    const std::uint8_t start = timeByte(grid, row, 15);
    if (!send(&start, 1))
        return false;
    const std::uint8_t end = timeByte(grid, row, 19);
    if (!send(&end, 1))
        return false;
    std::uint8_t tail[4];
    for (int c = 23; c <= 26; ++c)
        tail[c - 23] = keyByte(grid, c, row, true, false);
    return send(tail, 4);
}

const char* const dayNames[7] = { "Lunedi", "Martedi", "Mercoledi", "Giovedi", "Venerdi", "Sabato", "Domenica" };

} // namespace

ConversionError::ConversionError(const QString& text, int column, int row)
    : std::runtime_error(QStringLiteral("'%1' is not a valid value in column %2, row %3")
                             .arg(text, QString::number(column), QString::number(row))
                             .toStdString())
    , column_(column)
    , row_(row)
{
}

Model modelOf(const TableGrid& grid)
{
    const QString& marker = grid.cell(1, 1);
    if (marker == QLatin1String("U"))
        return Model::Kolvar22;
    if (marker == QLatin1String("Y"))
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
    for (int c = 1; c <= 26; ++c) {
        const char ch = labels[c - 1];
        grid.setCell(c, 0, ch == ' ' ? none() : QString(QLatin1Char(ch)));
    }
}

HeaderChecks decodeHeader(const std::uint8_t* h, Model model, TableGrid& grid)
{
    checkModel(model);
    const bool big = model == Model::Kolvar22;
    const QString hash = QStringLiteral("#");
    writeColumnLabels(grid, model);

    grid.setCell(1, 1, QString(QLatin1Char(static_cast<char>(h[0]))));
    grid.setCell(2, 1, h[1] == 12 ? hash : none());
    grid.setCell(3, 1, h[2] == 0 ? QStringLiteral("M") : h[2] == 1 ? QStringLiteral("A") : none());
    grid.setCell(4, 1, h[3] == 12 ? hash : none());

    // Local prefix: a 12 ends it, and what follows is shown as unused unless
    // it is itself a 0 or a hash.
    bool ended = false;
    for (int i = 4; i <= 11; ++i) {
        const int value = h[i];
        if (value == 10)
            grid.setCell(i + 1, 1, QStringLiteral("0"));
        else if (value == 12) {
            grid.setCell(i + 1, 1, hash);
            ended = true;
        } else
            grid.setCell(i + 1, 1, ended ? dash() : decimalText(value));
    }

    HeaderChecks checks;
    if (big) {
        grid.setCell(13, 1, h[12] == 12 ? hash : h[12] == 0 ? dash() : none());
        grid.setCell(14, 1, dash());
        checks.beep = h[14] == 1;
        checks.flash = h[15] == 1;
        grid.setCell(15, 1, checks.beep ? QStringLiteral("B") : QStringLiteral("0"));
        grid.setCell(16, 1, checks.flash ? QStringLiteral("F") : QStringLiteral("0"));
    } else {
        fill(grid, 1, 13, 16, dash());
    }
    fill(grid, 1, 17, 26, dash());
    return checks;
}

void decodeRecord(const std::uint8_t* record, Model model, TableGrid& grid, int row)
{
    checkModel(model);
    checkRecordRow(row);
    if (isEmptyRecord(record)) {
        fill(grid, row, 1, 26, dash());
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
    for (int c = 1; c <= RecordSize; ++c)
        bytes[static_cast<size_t>(c - 1)] = headerByte(grid, c);
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
        refuse(grid, 1, 1);

    if (grid.cell(1, row) == QLatin1String("-"))
        return bytes;
    for (int c = 1; c <= RecordSize; ++c)
        bytes[static_cast<size_t>(c - 1)] = keyByte(grid, c, row, true, true);
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
