// Decode a full table image into the grid and encode it back, as a read
// followed by a write does (without their pauses). Every association is in
// use, which is the most work. Prints the median time per image of the
// slower model.
#include "FullImage.h"

#include "device/Codec.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace codec;
using bench::fullImage;
using bench::Image;

namespace {

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
