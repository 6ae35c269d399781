// The table image a box sends, decoded the way a completed read decodes it,
// then written back the way a write encodes it. Whatever the bytes, decoding
// must stay inside the grid, and whatever the grid then holds must either be
// refused with the cell named or encode to bytes that decode to the same
// cells. The Kolvar22 pieces of a write must add up to the record.
//
// The input is the image from its first byte, cut or zero-filled to full
// length; a first byte that names no model picks one by its lowest bit, so
// every input reaches the decoders.
#include "device/Codec.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace codec;

namespace {

void check(bool ok, const char* what, int row, int column)
{
    if (ok)
        return;
    std::fprintf(stderr, "%s (row %d, column %d)\n", what, row, column);
    std::abort();
}

// `second` is one scratch grid per input: each row is decoded into it once,
// so the row compared holds nothing but that decoding (a grid per row spent
// most of the run building and dropping 3,483 cells).
void checkRowSettles(const TableGrid& first, TableGrid& second, const Record& bytes, Model model, int row)
{
    if (row == 1)
        decodeHeader(bytes.data(), model, second);
    else
        decodeRecord(bytes.data(), model, second, row);
    for (int c = 1; c <= 26; ++c)
        check(second.cell(c, row) == first.cell(c, row), "encoded row decodes differently", row, c);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::array<std::uint8_t, ImageSize> image{};
    std::memcpy(image.data(), data, std::min(size, image.size()));
    if (modelOfByte(image[0]) == Model::None)
        image[0] = image[0] & 1 ? ModelByteKolvar1 : ModelByteKolvar22;
    const Model model = modelOfByte(image[0]);

    TableGrid grid;
    grid.fillData(QString());
    const HeaderChecks checks = decodeHeader(image.data(), model, grid);
    check(checks.beep == (model == Model::Kolvar22 && image[14] == 1), "beep check", 1, 15);
    check(checks.flash == (model == Model::Kolvar22 && image[15] == 1), "flash check", 1, 16);
    for (int r = 2; r <= TableGrid::LastDataRow; ++r)
        decodeRecord(image.data() + RecordSize * (r - 1), model, grid, r);
    check(clockText(image.data() + ClockOffset).size() <= 20, "clock text too long", 0, 0);
    check(deviceText(image.data() + DeviceTextOffset).size() <= DeviceTextSize, "device text too long", 0, 0);

    TableGrid scratch;

    try {
        checkRowSettles(grid, scratch, encodeHeader(grid), model, 1);
    } catch (const ConversionError& e) {
        check(e.row() == 1 && e.column() >= 1 && e.column() <= 16, "header error names no header cell", e.row(),
              e.column());
    }

    for (int r = 2; r <= TableGrid::LastDataRow; ++r) {
        int refusedAt = 0;
        Record bytes{};
        try {
            bytes = encodeRecord(grid, r, model);
        } catch (const ConversionError& e) {
            check(e.row() == r && e.column() >= 1 && e.column() <= 26, "error names another cell", e.row(),
                  e.column());
            refusedAt = e.column();
        }
        if (model == Model::Kolvar22) {
            std::vector<std::uint8_t> sent;
            int piecesRefusedAt = 0;
            try {
                encodeKolvar22Pieces(grid, r, [&](const std::uint8_t* b, int n) {
                    check(n > 0 && sent.size() + static_cast<std::size_t>(n) <= RecordSize, "piece overruns record",
                          r, 0);
                    sent.insert(sent.end(), b, b + n);
                    return true;
                });
            } catch (const ConversionError& e) {
                piecesRefusedAt = e.column();
            }
            check(piecesRefusedAt == refusedAt, "pieces and record refuse different cells", r, piecesRefusedAt);
            if (!refusedAt)
                check(std::equal(sent.begin(), sent.end(), bytes.begin(), bytes.end()), "pieces differ from record",
                      r, 0);
        }
        if (!refusedAt)
            checkRowSettles(grid, scratch, bytes, model, r);
    }
    return 0;
}
