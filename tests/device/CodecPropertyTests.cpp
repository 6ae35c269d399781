// Decode-then-encode over whole families of records: every record the box can
// hold in a well-formed table must come back byte for byte, and any record at
// all must either be refused or settle after one pass.
#include "device/Codec.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace codec;

namespace {

class Gen
{
public:
    explicit Gen(std::uint32_t seed) : rng_(seed) {}
    int range(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    std::uint8_t digit() { return static_cast<std::uint8_t>(range(1, 10)); }
    // Bytes that sit on the codec's edges, and now and then any byte.
    std::uint8_t edgy()
    {
        static const int edges[] = { 0, 1, 2, 9, 10, 11, 12, 13, 15, 16, 0x55, 0x59, 0xAC, 0xBB, 0xCA, 0xFF };
        const int pick = range(0, 19);
        return static_cast<std::uint8_t>(pick < 16 ? edges[pick] : range(0, 255));
    }

private:
    std::mt19937 rng_;
};

// Prefix digits then star padding; carrier digits, maybe an end mark, then
// star padding (or, after a mark, whatever nibbles); time, day and line.
Record kolvar22Record(Gen& g, int prefixDigits, int carrierDigits, bool endMark, int start, int end, int day,
                      int line)
{
    Record r{};
    for (int i = 0; i < 6; ++i)
        r[static_cast<size_t>(i)] = i < prefixDigits ? g.digit() : 11;
    for (int n = 0; n < 8; ++n) {
        int nibble = 11;
        if (n < carrierDigits)
            nibble = g.digit();
        else if (endMark && n == carrierDigits)
            nibble = 12;
        else if (endMark && g.range(0, 1))
            nibble = g.range(1, 15);
        auto& b = r[static_cast<size_t>(6 + n / 2)];
        b = static_cast<std::uint8_t>(b | (n % 2 ? nibble : nibble << 4));
    }
    if (!endMark) {
        r[10] = static_cast<std::uint8_t>(start);
        r[11] = static_cast<std::uint8_t>(end);
        r[12] = static_cast<std::uint8_t>(day);
        r[13] = 11;
        r[14] = static_cast<std::uint8_t>(line);
        r[15] = 12;
    }
    return r;
}

// A grid whose row `row` reads as a new grid's does. The properties run tens
// of thousands of records: one grid per use, its row emptied each time,
// rather than a new grid of 3,483 cells for each record.
TableGrid& emptied(TableGrid& grid, int row)
{
    for (int c = 0; c < TableGrid::ColumnCount; ++c)
        grid.setCell(c, row, QString());
    return grid;
}

Record roundTrip(const Record& r, Model model)
{
    static TableGrid grid;
    decodeRecord(r.data(), model, emptied(grid, 2), 2);
    return encodeRecord(grid, 2, model);
}

std::vector<std::uint8_t> piecesJoined(const TableGrid& grid, int row)
{
    std::vector<std::uint8_t> bytes;
    encodeKolvar22Pieces(grid, row, [&](const std::uint8_t* b, int n) {
        bytes.insert(bytes.end(), b, b + n);
        return true;
    });
    return bytes;
}

} // namespace

TEST(CodecProperty, EveryWellFormedKolvar22RecordComesBack)
{
    // Every time, day and line with digits of random length, then every
    // prefix and carrier length, with and without an end mark, many times.
    Gen g(2203);
    const int codes[] = { 1, 2, 10 };
    for (int start = 0; start <= 48; ++start)
        for (int end = 0; end <= 48; ++end)
            for (int day : codes)
                for (int line : codes) {
                    const Record r = kolvar22Record(g, g.range(0, 6), g.range(0, 8), false, start, end, day, line);
                    ASSERT_EQ(roundTrip(r, Model::Kolvar22), r) << start << " " << end << " " << day << " " << line;
                }
    for (int prefix = 0; prefix <= 6; ++prefix)
        for (int carrier = 0; carrier <= 8; ++carrier)
            for (int i = 0; i < 300; ++i) {
                const bool mark = carrier < 8 && i % 2; // a mark needs a nibble left
                const Record r = kolvar22Record(g, prefix, carrier, mark, g.range(0, 48), g.range(0, 48), 10, 1);
                ASSERT_EQ(roundTrip(r, Model::Kolvar22), r) << prefix << " " << carrier << " " << mark;
            }
}

TEST(CodecProperty, AnyKolvar22RecordWithItsSeparatorsAndNoZerosComesBack)
{
    // Beyond key codes: every byte and nibble value that decodes to a number
    // must encode to that number again, multi-digit ones included.
    Gen g(7);
    for (int i = 0; i < 20000; ++i) {
        Record r{};
        for (int k = 0; k < 6; ++k)
            r[static_cast<size_t>(k)] = static_cast<std::uint8_t>(g.range(1, 255));
        bool mark = false;
        for (int k = 6; k < 10; ++k) {
            const int high = g.range(1, 15);
            const int low = g.range(1, 15);
            mark = mark || high == 12 || low == 12;
            r[static_cast<size_t>(k)] = static_cast<std::uint8_t>(high << 4 | low);
        }
        if (!mark) {
            r[10] = static_cast<std::uint8_t>(g.range(0, 255));
            r[11] = static_cast<std::uint8_t>(g.range(0, 255));
            r[12] = static_cast<std::uint8_t>(g.range(1, 255));
            r[13] = 11;
            r[14] = static_cast<std::uint8_t>(g.range(1, 255));
            r[15] = 12;
        }
        ASSERT_EQ(roundTrip(r, Model::Kolvar22), r) << i;
    }
}

TEST(CodecProperty, EveryShapeOfKolvar1ComesBack)
{
    Gen g(1);
    for (int prefix = 0; prefix <= 14; ++prefix)
        for (int carrier = 0; prefix + carrier <= 14; ++carrier)
            for (int i = 0; i < 100; ++i) {
                Record r{};
                size_t at = 0;
                for (int k = 0; k < prefix; ++k)
                    r[at++] = g.digit();
                r[at++] = 11;
                for (int k = 0; k < carrier; ++k)
                    r[at++] = g.digit();
                r[at++] = 12;
                ASSERT_EQ(roundTrip(r, Model::Kolvar1), r) << prefix << " " << carrier;
            }
    // Any non-zero bytes up to a hash (or sixteen without one), zeros after it.
    for (int i = 0; i < 20000; ++i) {
        Record r{};
        const int hashAt = g.range(0, 16);
        for (int k = 0; k < 16 && k <= hashAt; ++k) {
            int v = g.range(1, 255);
            if (v == 12)
                v = 13;
            r[static_cast<size_t>(k)] = static_cast<std::uint8_t>(k == hashAt ? 12 : v);
        }
        ASSERT_EQ(roundTrip(r, Model::Kolvar1), r) << i;
    }
}

TEST(CodecProperty, AnyRecordIsRefusedOrSettlesAfterOnePass)
{
    Gen g(99);
    int encoded[2] = { 0, 0 };
    TableGrid first;
    TableGrid second;
    for (int i = 0; i < 6000; ++i) {
        Record r{};
        for (auto& b : r)
            b = g.edgy();
        for (Model model : { Model::Kolvar22, Model::Kolvar1 }) {
            decodeRecord(r.data(), model, emptied(first, 7), 7);
            Record bytes{};
            try {
                bytes = encodeRecord(first, 7, model);
            } catch (const ConversionError& e) {
                ASSERT_EQ(e.row(), 7);
                ASSERT_TRUE(e.column() >= 1 && e.column() <= 26);
                if (model == Model::Kolvar22) {
                    // The write's pieces stop at the same cell.
                    try {
                        piecesJoined(first, 7);
                        FAIL() << "pieces encoded what the record refused";
                    } catch (const ConversionError& p) {
                        ASSERT_EQ(p.column(), e.column());
                    }
                }
                continue;
            }
            ++encoded[model == Model::Kolvar22 ? 0 : 1];
            if (model == Model::Kolvar22) {
                ASSERT_EQ(piecesJoined(first, 7), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
            }
            decodeRecord(bytes.data(), model, emptied(second, 7), 7);
            for (int c = 1; c <= 26; ++c)
                ASSERT_EQ(second.cell(c, 7), first.cell(c, 7)) << i << " column " << c;
        }
    }
    // The property must have been exercised, not skipped by refusals.
    EXPECT_GT(encoded[0], 1000) << encoded[0];
    EXPECT_GT(encoded[1], 1000) << encoded[1];
}

TEST(CodecProperty, AnyHeaderIsRefusedOrSettlesAfterOnePass)
{
    Gen g(5);
    int encoded = 0;
    TableGrid first;
    TableGrid second;
    for (int i = 0; i < 6000; ++i) {
        Record h{};
        for (auto& b : h)
            b = g.edgy();
        const Model model = i % 2 ? Model::Kolvar22 : Model::Kolvar1;
        h[0] = model == Model::Kolvar22 ? ModelByteKolvar22 : ModelByteKolvar1;
        if (g.range(0, 1)) { // give the separators and the mode a fair chance
            h[1] = 12;
            h[2] = static_cast<std::uint8_t>(g.range(0, 1));
            h[3] = 12;
            h[12] = g.range(0, 1) ? 12 : 0;
        }
        const HeaderChecks checks = decodeHeader(h.data(), model, emptied(first, 1));
        ASSERT_EQ(checks.beep, model == Model::Kolvar22 && h[14] == 1);
        ASSERT_EQ(checks.flash, model == Model::Kolvar22 && h[15] == 1);
        Record bytes{};
        try {
            bytes = encodeHeader(first);
        } catch (const ConversionError& e) {
            ASSERT_EQ(e.row(), 1);
            continue;
        }
        ++encoded;
        decodeHeader(bytes.data(), model, emptied(second, 1));
        for (int c = 1; c <= 26; ++c)
            ASSERT_EQ(second.cell(c, 1), first.cell(c, 1)) << i << " column " << c;
    }
    EXPECT_GT(encoded, 1000);
}
