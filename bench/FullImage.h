#pragma once

#include "device/Codec.h"

#include <algorithm>
#include <array>
#include <iterator>

// A box's table image with every association in use: the most work a read
// or a write of the table can be.
namespace bench {

using namespace codec;

using Image = std::array<std::uint8_t, codec::ImageSize>;

inline Image fullImage(codec::Model model)
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

} // namespace bench
