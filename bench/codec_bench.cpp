// Decode a full table image into the grid and encode it back, as a read
// followed by a write does (without their pauses). Every association is in
// use, which is the most work. Prints the median time per image of the
// slower model.
#include "device/Codec.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace codec;

namespace {

using Image = std::array<std::uint8_t, ImageSize>;

Image fullImage(Model model)
{
    Image image{};
    const std::uint8_t header[RecordSize] = { model == Model::Kolvar22 ? ModelByteKolvar22 : ModelByteKolvar1,
                                              12, 1, 12, 10, 6, 12 };
    std::copy(std::begin(header), std::end(header), image.begin());
    for (int n = 1; n <= RecordCount; ++n) {
        std::uint8_t* r = image.data() + RecordSize * n;
        const std::uint8_t digit = static_cast<std::uint8_t>(1 + n % 10);
        if (model == Model::Kolvar22) {
            const std::uint8_t record[RecordSize] = { 3, digit, 4, 11, 11, 11, 0x1A, 0x55, 0xBB, 0xBB,
                                                      static_cast<std::uint8_t>(n % 49), 48, 10, 11, 1, 12 };
            std::copy(std::begin(record), std::end(record), r);
        } else {
            const std::uint8_t record[RecordSize] = { 3, digit, 4, 5, 6, 11, 1, 10, 5, 5, 12 };
            std::copy(std::begin(record), std::end(record), r);
        }
    }
    image[ClockOffset] = 0x07;
    image[ClockOffset + 1] = 0x12;
    image[ClockOffset + 2] = 3;
    const char text[] = "KOLVAR22 V1.04";
    std::copy(std::begin(text), std::end(text) - 1, image.begin() + DeviceTextOffset);
    return image;
}

// One read and one write of the image; returns a checksum so nothing is optimised away.
unsigned roundTrip(const Image& image, TableGrid& grid)
{
    const Model model = modelOfByte(image[0]);
    grid.fillData(QString());
    decodeHeader(image.data(), model, grid);
    for (int r = 2; r <= TableGrid::LastDataRow; ++r)
        decodeRecord(image.data() + RecordSize * (r - 1), model, grid, r);
    unsigned sum = static_cast<unsigned>(clockText(image.data() + ClockOffset).size()
                                         + deviceText(image.data() + DeviceTextOffset).size());
    sum += encodeHeader(grid)[0];
    for (int r = 2; r <= TableGrid::LastDataRow; ++r)
        sum += encodeRecord(grid, r, model)[15];
    return sum;
}

double medianMicroseconds(const Image& image, unsigned& sink)
{
    TableGrid grid;
    for (int i = 0; i < 50; ++i) // warm up
        sink += roundTrip(image, grid);
    constexpr int batches = 31;
    constexpr int perBatch = 100;
    std::vector<double> times;
    for (int b = 0; b < batches; ++b) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < perBatch; ++i)
            sink += roundTrip(image, grid);
        const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
        times.push_back(spent.count() / perBatch);
    }
    std::nth_element(times.begin(), times.begin() + batches / 2, times.end());
    return times[batches / 2];
}

} // namespace

int main()
{
    unsigned sink = 0;
    const double kolvar22 = medianMicroseconds(fullImage(Model::Kolvar22), sink);
    const double kolvar1 = medianMicroseconds(fullImage(Model::Kolvar1), sink);
    std::fprintf(stderr, "codec: Kolvar22 %.1f us, Kolvar1 %.1f us per image (checksum %u)\n", kolvar22, kolvar1, sink);
    std::printf("BENCH codec_us %.1f us target < 50\n", std::max(kolvar22, kolvar1));
    return 0;
}
