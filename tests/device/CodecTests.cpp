#include "device/Codec.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <vector>

using namespace codec;

namespace {

using Bytes = std::vector<std::uint8_t>;

Record record(std::initializer_list<int> values)
{
    Record r{};
    size_t i = 0;
    for (int v : values)
        r.at(i++) = static_cast<std::uint8_t>(v);
    return r;
}

// Cells 1..26 of a row, as one list.
QStringList rowCells(const TableGrid& grid, int row)
{
    QStringList cells;
    for (int c = 1; c <= 26; ++c)
        cells << grid.cell(c, row);
    return cells;
}

QStringList cells(std::initializer_list<const char*> texts, const char* rest = "-")
{
    QStringList list;
    for (const char* t : texts)
        list << QString::fromLatin1(t);
    while (list.size() < 26)
        list << QString::fromLatin1(rest);
    return list;
}

void setRow(TableGrid& grid, int row, const QStringList& texts)
{
    for (int c = 1; c <= 26; ++c)
        grid.setCell(c, row, texts.value(c - 1));
}

// Every piece a Kolvar22 row is sent in, in order.
std::vector<Bytes> piecesOf(const TableGrid& grid, int row)
{
    std::vector<Bytes> pieces;
    encodeKolvar22Pieces(grid, row, [&](const std::uint8_t* b, int n) {
        pieces.emplace_back(b, b + n);
        return true;
    });
    return pieces;
}

const Record prefix39 = record({ 3, 9, 11, 11, 11, 11, 0x1A, 0x55, 0xBB, 0xBB, 17, 26, 1, 11, 1, 12 });
const QStringList prefix39Cells = cells({ "3", "9", "*", "*", "*", "*", "1", "0", "5", "5", "*", "*", "*", "*",
                                          "0", "8", "3", "0", "1", "3", "0", "0", "1", "*", "1", "#" });

} // namespace

TEST(Kolvar22Record, DecodesAndEncodesAFullAssociation)
{
    TableGrid grid;
    decodeRecord(prefix39.data(), Model::Kolvar22, grid, 5);
    EXPECT_EQ(rowCells(grid, 5), prefix39Cells);
    EXPECT_EQ(encodeRecord(grid, 5, Model::Kolvar22), prefix39);

    // The write sends it as prefix, four carrier bytes, two times and the tail.
    const std::vector<Bytes> expected = { { 3, 9, 11, 11, 11, 11 }, { 0x1A }, { 0x55 }, { 0xBB }, { 0xBB },
                                          { 17 }, { 26 }, { 1, 11, 1, 12 } };
    EXPECT_EQ(piecesOf(grid, 5), expected);
}

TEST(Kolvar22Record, CarrierEndMarkInEitherNibbleEndsTheRecord)
{
    // Time, day and line bytes after an end mark are ignored, whatever they hold.
    const Record low = record({ 3, 9, 11, 11, 11, 11, 0x12, 0x3C, 0xBB, 0xBB, 17, 26, 1, 11, 1, 12 });
    const Record high = record({ 3, 9, 11, 11, 11, 11, 0x12, 0xCB, 0xBB, 0xBB, 5, 5, 5, 5, 5, 5 });
    TableGrid grid;
    decodeRecord(low.data(), Model::Kolvar22, grid, 2);
    decodeRecord(high.data(), Model::Kolvar22, grid, 3);
    EXPECT_EQ(rowCells(grid, 2), cells({ "3", "9", "*", "*", "*", "*", "1", "2", "3", "#", "*", "*", "*", "*" }));
    EXPECT_EQ(rowCells(grid, 3), cells({ "3", "9", "*", "*", "*", "*", "1", "2", "#", "*", "*", "*", "*", "*" }));

    const Record lowBack = record({ 3, 9, 11, 11, 11, 11, 0x12, 0x3C, 0xBB, 0xBB });
    const Record highBack = record({ 3, 9, 11, 11, 11, 11, 0x12, 0xCB, 0xBB, 0xBB });
    EXPECT_EQ(encodeRecord(grid, 2, Model::Kolvar22), lowBack);
    EXPECT_EQ(encodeRecord(grid, 3, Model::Kolvar22), highBack);
    const std::vector<Bytes> expected = { { 3, 9, 11, 11, 11, 11 }, { 0x12 }, { 0x3C }, { 0xBB }, { 0xBB },
                                          Bytes(6, 0) };
    EXPECT_EQ(piecesOf(grid, 2), expected);
}

TEST(Kolvar22Record, TimesShowAsFourDigitsAndComeBack)
{
    struct Case { int value; const char* digits[4]; };
    const Case cases[] = { { 0, { "0", "0", "0", "0" } },   { 27, { "1", "3", "3", "0" } },
                           { 48, { "2", "4", "0", "0" } },  { 1, { "0", "0", "3", "0" } },
                           { 255, { "12", "7", "3", "0" } } };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.value);
        Record r = prefix39;
        r[10] = static_cast<std::uint8_t>(k.value);
        r[11] = static_cast<std::uint8_t>(k.value);
        TableGrid grid;
        decodeRecord(r.data(), Model::Kolvar22, grid, 2);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(grid.cell(15 + i, 2), QLatin1String(k.digits[i]));
            EXPECT_EQ(grid.cell(19 + i, 2), QLatin1String(k.digits[i]));
        }
        EXPECT_EQ(encodeRecord(grid, 2, Model::Kolvar22), r);
    }
}

TEST(Kolvar22Record, OddBytesShowTheirDecimals)
{
    // A 12 in the prefix, a 0 nibble, and day/line codes other than the usual.
    const Record r = record({ 12, 0, 1, 2, 3, 4, 0x0D, 0xEF, 0x12, 0x34, 2, 3, 12, 0, 11, 7 });
    TableGrid grid;
    decodeRecord(r.data(), Model::Kolvar22, grid, 2);
    EXPECT_EQ(rowCells(grid, 2), cells({ "12", "0", "1", "2", "3", "4", "0", "13", "14", "15", "1", "2", "3", "4",
                                         "0", "1", "0", "0", "0", "1", "3", "0", "12", "", "11", "" }));
}

TEST(Kolvar1Record, DecodesAndEncodesUpToTheHash)
{
    const Record r = record({ 3, 9, 11, 1, 0x0A, 5, 5, 12 });
    TableGrid grid;
    grid.fillData(QStringLiteral("?"));
    decodeRecord(r.data(), Model::Kolvar1, grid, 2);
    EXPECT_EQ(rowCells(grid, 2), cells({ "3", "9", "*", "1", "0", "5", "5", "#" }));
    EXPECT_EQ(encodeRecord(grid, 2, Model::Kolvar1), r);

    // Sixteen codes without a hash fill every key cell.
    const Record full = record({ 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1, 2, 3, 4, 200 });
    decodeRecord(full.data(), Model::Kolvar1, grid, 3);
    EXPECT_EQ(rowCells(grid, 3),
              cells({ "1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "*", "1", "2", "3", "4", "200" }));
    EXPECT_EQ(encodeRecord(grid, 3, Model::Kolvar1), full);
}

TEST(Record, EmptyRecordsInBothModels)
{
    // Only the first three bytes decide; the rest is not looked at.
    const Record empty = record({ 0, 0, 0, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 });
    for (Model m : { Model::Kolvar22, Model::Kolvar1 }) {
        TableGrid grid;
        grid.fillData(QStringLiteral("7"));
        decodeRecord(empty.data(), m, grid, 128);
        EXPECT_EQ(rowCells(grid, 128), cells({}));
        EXPECT_EQ(encodeRecord(grid, 128, m), Record{});
    }
    TableGrid grid;
    grid.fillData(QStringLiteral("-"));
    EXPECT_EQ(piecesOf(grid, 2), std::vector<Bytes>{ Bytes(16, 0) });
}

TEST(Header, Kolvar22DecodeAndEncode)
{
    // Local prefix 0 6 then its end; after the end a 10 and a 12 still show.
    const Record h = record({ 'U', 12, 1, 12, 10, 6, 12, 3, 10, 12, 0, 0, 12, 0, 0, 1 });
    TableGrid grid;
    const HeaderChecks checks = decodeHeader(h.data(), Model::Kolvar22, grid);
    EXPECT_FALSE(checks.beep);
    EXPECT_TRUE(checks.flash);
    EXPECT_EQ(rowCells(grid, 1),
              cells({ "U", "#", "A", "#", "0", "6", "#", "-", "0", "#", "-", "-", "#", "-", "0", "F" }));

    // Beep off comes back as 10, not 0; what follows the prefix's end comes
    // back as 0 unless it showed as "0" or "#".
    Record back = h;
    back[14] = 10;
    back[7] = 0;
    EXPECT_EQ(encodeHeader(grid), back);
    decodeHeader(back.data(), Model::Kolvar22, grid);
    EXPECT_EQ(encodeHeader(grid), back);

    const Record on = record({ 'U', 12, 0, 12, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 7 });
    const HeaderChecks onChecks = decodeHeader(on.data(), Model::Kolvar22, grid);
    EXPECT_TRUE(onChecks.beep);
    EXPECT_FALSE(onChecks.flash);
    EXPECT_EQ(rowCells(grid, 1), cells({ "U", "#", "M", "#", "#", "-", "-", "-", "-", "-", "-", "-", "-", "-", "B", "0" }));
}

TEST(Header, Kolvar1IgnoresTheLastFourBytes)
{
    const Record h = record({ 'Y', 12, 0, 12, 2, 11, 255, 12, 0, 0, 0, 0, 12, 7, 1, 1 });
    TableGrid grid;
    const HeaderChecks checks = decodeHeader(h.data(), Model::Kolvar1, grid);
    EXPECT_FALSE(checks.beep);
    EXPECT_FALSE(checks.flash);
    EXPECT_EQ(rowCells(grid, 1), cells({ "Y", "#", "M", "#", "2", "11", "255", "#" }));
    EXPECT_EQ(encodeHeader(grid), record({ 'Y', 12, 0, 12, 2, 11, 255, 12 }));
}

TEST(Header, UnexpectedSeparatorAndModeBytesLeaveCellsEmptyAndCannotBeWritten)
{
    const Record h = record({ 'U', 5, 2, 12, 12, 0, 0, 0, 0, 0, 0, 0, 3, 0, 1, 1 });
    TableGrid grid;
    decodeHeader(h.data(), Model::Kolvar22, grid);
    EXPECT_EQ(grid.cell(2, 1), QString());
    EXPECT_EQ(grid.cell(3, 1), QString());
    EXPECT_EQ(grid.cell(13, 1), QString());
    try {
        encodeHeader(grid);
        FAIL() << "an empty header cell was encoded";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.column(), 2);
        EXPECT_EQ(e.row(), 1);
    }
}

TEST(Header, ColumnLabelsFollowTheModel)
{
    TableGrid grid;
    const QStringList big = { "P", "R", "E", "F", ".", "", "G", "E", "S", "T", ".", "", "", "",
                              "D", "A", ":", "", "A", ":", "", "", "G", "", "L", "" };
    const QStringList small = { "P", "R", "E", "F", "*", "", "G", "E", "S", "T", "#", "", "", "",
                                "", "", "", "", "", "", "", "", "", "", "", "" };
    const Record h1 = record({ 'Y', 12, 0, 12, 12 });
    const Record h22 = record({ 'U', 12, 0, 12, 12 });
    decodeHeader(h1.data(), Model::Kolvar1, grid);
    EXPECT_EQ(rowCells(grid, 0), small);
    decodeHeader(h22.data(), Model::Kolvar22, grid);
    EXPECT_EQ(rowCells(grid, 0), big);
    writeColumnLabels(grid, Model::Kolvar1);
    EXPECT_EQ(rowCells(grid, 0), small);
    writeColumnLabels(grid, Model::None); // start-up
    EXPECT_EQ(rowCells(grid, 0), big);
}

TEST(Clock, TextAndBlock)
{
    const std::uint8_t wednesday[3] = { 0x05, 0x09, 3 };
    EXPECT_EQ(clockText(wednesday), QStringLiteral("09:05  Mercoledi"));
    const std::uint8_t sunday[3] = { 0x59, 0x23, 7 };
    EXPECT_EQ(clockText(sunday), QStringLiteral("23:59  Domenica"));
    const std::uint8_t noDay[3] = { 0xFF, 0x00, 8 };
    EXPECT_EQ(clockText(noDay), QStringLiteral("00:1515  "));

    EXPECT_EQ(encodeClock(0, 7, 7), (ClockBlock{ 0x07, 0x00, 7 }));
    EXPECT_EQ(encodeClock(23, 59, 1), (ClockBlock{ 0x59, 0x23, 1 }));
    EXPECT_THROW(encodeClock(24, 0, 1), std::out_of_range);
    EXPECT_THROW(encodeClock(0, 60, 1), std::out_of_range);
    EXPECT_THROW(encodeClock(0, 0, 0), std::out_of_range);
}

TEST(DeviceText, ZeroBytesAddNothingAndHighBytesAreLatin1)
{
    const std::uint8_t text[16] = { 'K', 0, 'v', '2', '2', 0, 0, ' ', 0xE8, 0, 0, 0, 0, 0, 0, '!' };
    EXPECT_EQ(deviceText(text), QString::fromUtf8("Kv22 \xC3\xA8!"));
    const std::uint8_t none[16] = {};
    EXPECT_TRUE(deviceText(none).isEmpty());
}

TEST(Model, MarkerCellAndModelByte)
{
    TableGrid grid;
    EXPECT_EQ(modelOf(grid), Model::None);
    grid.setCell(1, 1, 'U');
    EXPECT_EQ(modelOf(grid), Model::Kolvar22);
    grid.setCell(1, 1, 'Y');
    EXPECT_EQ(modelOf(grid), Model::Kolvar1);
    grid.setCell(1, 1, QStringLiteral("UY"));
    EXPECT_EQ(modelOf(grid), Model::None);
    EXPECT_EQ(modelOfByte(0x55), Model::Kolvar22);
    EXPECT_EQ(modelOfByte(0x59), Model::Kolvar1);
    EXPECT_EQ(modelOfByte(0x02), Model::None);
}

// --- what cannot be encoded --------------------------------------------------

TEST(ConversionErrors, NameTheColumnAndRow)
{
    struct Case { Model model; int column; const char* text; };
    const Case refused[] = {
        { Model::Kolvar22, 1, "#" },    { Model::Kolvar22, 3, "-" },   { Model::Kolvar22, 6, "256" },
        { Model::Kolvar22, 2, "" },     { Model::Kolvar22, 4, " 5" },  { Model::Kolvar22, 4, "+5" },
        { Model::Kolvar22, 4, "-5" },   { Model::Kolvar22, 5, "5a" },  { Model::Kolvar22, 5, "x" },
        { Model::Kolvar22, 7, "16" },   { Model::Kolvar22, 8, "-" },   { Model::Kolvar22, 14, "99999999999" },
        { Model::Kolvar22, 15, "*" },   { Model::Kolvar22, 16, "?" },  { Model::Kolvar22, 17, "-" },
        { Model::Kolvar22, 19, "" },    { Model::Kolvar22, 21, "3 " }, { Model::Kolvar22, 23, "-" },
        { Model::Kolvar22, 24, "" },    { Model::Kolvar22, 25, "300" }, { Model::Kolvar22, 26, "" },
        { Model::Kolvar1, 1, "*5" },    { Model::Kolvar1, 9, "" },     { Model::Kolvar1, 16, "256" },
        { Model::Kolvar1, 12, "\xb2" }, { Model::Kolvar1, 2, "\xd9" },
    };
    for (const Case& k : refused) {
        SCOPED_TRACE(std::string(k.text) + " in column " + std::to_string(k.column));
        TableGrid grid;
        if (k.model == Model::Kolvar22)
            setRow(grid, 4, prefix39Cells);
        else
            setRow(grid, 4, cells({ "3", "9", "*", "1", "0", "5", "5", "#" }));
        grid.setCell(k.column, 4, QString::fromLatin1(k.text));
        try {
            encodeRecord(grid, 4, k.model);
            FAIL() << "encoded";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.column(), k.column);
            EXPECT_EQ(e.row(), 4);
            EXPECT_EQ(QString::fromStdString(e.what()),
                      QStringLiteral("'%1' is not a valid value in column %2, row 4")
                          .arg(QString::fromLatin1(k.text), QString::number(k.column)));
        }
    }
}

TEST(ConversionErrors, NameTheFieldTheOperatorKnows)
{
    using fields::Field;
    struct Case { Model model; int row; int column; Field field; };
    // Kolvar1 row 4 reads "39*1055#": the code starts at its "*".
    const Case refused[] = {
        { Model::Kolvar22, 1, 2, Field::HeaderSeparator }, { Model::Kolvar22, 1, 3, Field::Management },
        { Model::Kolvar22, 1, 13, Field::LocalPrefix },    { Model::Kolvar22, 1, 14, Field::Reserved },
        { Model::Kolvar22, 1, 16, Field::Flash },          { Model::Kolvar22, 4, 6, Field::Prefix },
        { Model::Kolvar22, 4, 7, Field::Carrier },         { Model::Kolvar22, 4, 16, Field::StartTime },
        { Model::Kolvar22, 4, 19, Field::EndTime },        { Model::Kolvar22, 4, 23, Field::DayType },
        { Model::Kolvar22, 4, 24, Field::Separator },      { Model::Kolvar22, 4, 25, Field::Line },
        { Model::Kolvar22, 4, 26, Field::Terminator },     { Model::Kolvar1, 4, 2, Field::Prefix },
        { Model::Kolvar1, 4, 5, Field::Carrier },
    };
    for (const Case& k : refused) {
        SCOPED_TRACE("column " + std::to_string(k.column) + ", row " + std::to_string(k.row));
        TableGrid grid;
        setRow(grid, 1, cells({ k.model == Model::Kolvar22 ? "U" : "Y", "#", "A", "#", "2", "#" }));
        if (k.model == Model::Kolvar22)
            setRow(grid, 4, prefix39Cells);
        else
            setRow(grid, 4, cells({ "3", "9", "*", "1", "0", "5", "5", "#" }));
        grid.setCell(k.column, k.row, QStringLiteral("x"));
        try {
            if (k.row == 1)
                encodeHeader(grid);
            else
                encodeRecord(grid, k.row, k.model);
            FAIL() << "encoded";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.field(), k.field);
            EXPECT_EQ(e.text(), QStringLiteral("x"));
        }
    }
}

TEST(ConversionErrors, NumbersWithinTheirByteOrNibbleAreAccepted)
{
    TableGrid grid;
    setRow(grid, 2, prefix39Cells);
    grid.setCell(1, 2, QStringLiteral("12"));   // a 12 in the prefix, as decoded
    grid.setCell(2, 2, QStringLiteral("255"));
    grid.setCell(7, 2, QStringLiteral("15"));
    grid.setCell(8, 2, QStringLiteral("007"));
    grid.setCell(15, 2, QStringLiteral("12"));  // 12 * 20 + 7 * 2 + 1 = 255
    grid.setCell(16, 2, QStringLiteral("7"));
    grid.setCell(17, 2, QStringLiteral("5"));   // div 3 makes 1
    grid.setCell(18, 2, QStringLiteral("?"));   // never read
    grid.setCell(22, 2, QString());             // never read
    const Record r = encodeRecord(grid, 2, Model::Kolvar22);
    EXPECT_EQ(r[0], 12);
    EXPECT_EQ(r[1], 255);
    EXPECT_EQ(r[6], 0xF7);
    EXPECT_EQ(r[10], 255);

    // One more half hour would not fit the byte; the cell that tips it is named.
    grid.setCell(17, 2, QStringLiteral("0"));
    grid.setCell(16, 2, QStringLiteral("8"));
    try {
        encodeRecord(grid, 2, Model::Kolvar22);
        FAIL() << "a start time of 256 half hours was encoded";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.column(), 16);
    }

    TableGrid header;
    setRow(header, 1, cells({ "U", "#", "A", "#", "255", "#" }));
    header.setCell(7, 1, QStringLiteral("256"));
    EXPECT_THROW(encodeHeader(header), ConversionError);
}

TEST(ConversionErrors, PiecesBeforeTheRefusedCellAreSentAndNothingAfter)
{
    struct Case { int column; size_t piecesSent; };
    // Prefix 1, carrier bytes 2..5, start 6, end 7, tail 8.
    const Case cases[] = { { 3, 0 }, { 7, 1 }, { 11, 3 }, { 12, 3 }, { 14, 4 }, { 15, 5 }, { 20, 6 }, { 26, 7 } };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.column);
        TableGrid grid;
        setRow(grid, 9, prefix39Cells);
        grid.setCell(k.column, 9, QStringLiteral("?"));
        size_t sent = 0;
        try {
            encodeKolvar22Pieces(grid, 9, [&](const std::uint8_t*, int) {
                ++sent;
                return true;
            });
            FAIL() << "encoded";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.column(), k.column);
            EXPECT_EQ(e.row(), 9);
        }
        EXPECT_EQ(sent, k.piecesSent);
    }
}

TEST(Kolvar22Pieces, AFailedSendStopsBeforeLaterCellsAreLookedAt)
{
    TableGrid grid;
    setRow(grid, 2, prefix39Cells);
    grid.setCell(25, 2, QStringLiteral("?"));
    int sent = 0;
    const bool done = encodeKolvar22Pieces(grid, 2, [&](const std::uint8_t*, int) { return ++sent < 3; });
    EXPECT_FALSE(done);
    EXPECT_EQ(sent, 3);
}

TEST(Record, RowsAndModelsOutsideTheTableAreRefused)
{
    TableGrid grid;
    grid.fillData(QStringLiteral("-"));
    const Record r = prefix39;
    for (int row : { -1, 0, 1, 129 }) {
        EXPECT_THROW(decodeRecord(r.data(), Model::Kolvar22, grid, row), std::out_of_range);
        EXPECT_THROW(encodeRecord(grid, row, Model::Kolvar1), std::out_of_range);
        EXPECT_THROW(encodeKolvar22Pieces(grid, row, [](const std::uint8_t*, int) { return true; }),
                     std::out_of_range);
    }
    EXPECT_THROW(decodeRecord(r.data(), Model::None, grid, 2), std::invalid_argument);
    EXPECT_THROW(decodeHeader(r.data(), Model::None, grid), std::invalid_argument);
    try {
        encodeRecord(grid, 2, Model::None);
        FAIL() << "encoded without a model";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.column(), 1);
        EXPECT_EQ(e.row(), 1);
    }
}
