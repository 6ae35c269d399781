#include "sim/SampleImage.h"

#include <cstring>
#include <initializer_list>

namespace boxsim {
namespace {

// Key codes as the box stores them.
constexpr std::uint8_t K0 = 10;   // digit 0
constexpr std::uint8_t KS = 11;   // star: filler and separator
constexpr std::uint8_t KH = 12;   // hash: end mark and terminator

// Kolvar22 day types and lines.
constexpr std::uint8_t kWorkingDays = 1;
constexpr std::uint8_t kHolidays = 2;
constexpr std::uint8_t kEveryDay = 10;
constexpr std::uint8_t kLine0 = 10;

void put(Image& image, std::size_t offset, std::initializer_list<std::uint8_t> bytes)
{
    std::size_t i = offset;
    for (std::uint8_t b : bytes)
        image.at(i++) = b;
}

void putRecord(Image& image, std::size_t number, std::initializer_list<std::uint8_t> bytes)
{
    put(image, kRecordSize * number, bytes);
}

void putText(Image& image, const char (&text)[kTextSize + 1])
{
    std::memcpy(image.data() + kTextOffset, text, kTextSize);
}

// Half hours since midnight, the way the box keeps a time of day.
constexpr std::uint8_t halfHours(int hours, int minutes)
{
    return static_cast<std::uint8_t>(2 * hours + (minutes == 30 ? 1 : 0));
}

Image kolvar22()
{
    Image image{};
    // Header: model, #, automatic management, #, local prefix 02 ended by #,
    // ninth prefix position and the unused byte zero, beep on, flash off.
    put(image, 0, {'U', KH, 1, KH, K0, 2, KH, 0, 0, 0, 0, 0, 0, 0, 1, 0});

    // Prefix 39 -> carrier 1055, 08:30 to 13:00 on working days, line 1.
    putRecord(image, 1, {3, 9, KS, KS, KS, KS, 0x1A, 0x55, 0xBB, 0xBB,
                         halfHours(8, 30), halfHours(13, 0), kWorkingDays, KS, 1, KH});
    // Prefix 0039 -> carrier 1088 all day long, every day, line 0.
    putRecord(image, 2, {K0, K0, 3, 9, KS, KS, 0x1A, 0x88, 0xBB, 0xBB,
                         halfHours(0, 0), halfHours(24, 0), kEveryDay, KS, kLine0, KH});
    // Carrier 12 with its end mark in a high nibble: no time, day or line.
    putRecord(image, 3, {3, 4, 8, KS, KS, KS, 0x12, 0xCB, 0xBB, 0xBB, 0, 0, 0, 0, 0, 0});
    // Carrier 123 with its end mark in a low nibble.
    putRecord(image, 4, {K0, 6, KS, KS, KS, KS, 0x12, 0x3C, 0xBB, 0xBB, 0, 0, 0, 0, 0, 0});
    // Night window across midnight on holidays, line 2.
    putRecord(image, 5, {3, 3, 5, KS, KS, KS, 0x41, 0xAA, 0xBB, 0xBB,
                         halfHours(19, 0), halfHours(7, 30), kHolidays, KS, 2, KH});
    // A six-digit prefix and an eight-digit carrier code fill every position.
    putRecord(image, 6, {8, K0, K0, 1, 2, 3, 0x1A, 0x1A, 0xAA, 0xAA,
                         halfHours(18, 0), halfHours(20, 30), kWorkingDays, KS, 1, KH});
    putRecord(image, 40, {K0, 2, KS, KS, KS, KS, 0x1A, 0x33, 0xBB, 0xBB,
                          halfHours(12, 0), halfHours(14, 0), kEveryDay, KS, 2, KH});
    // The last association, right before the clock block.
    putRecord(image, 127, {K0, 5, 5, KS, KS, KS, 0x1A, 0x1A, 0x1A, 0x1B,
                           halfHours(0, 30), halfHours(23, 30), kHolidays, KS, kLine0, KH});

    // Clock: 09:45 (packed BCD, minutes first), Wednesday.
    put(image, kClockOffset, {0x45, 0x09, 3});
    putText(image, "KOLVAR22 V2.10  ");
    return image;
}

Image kolvar1()
{
    Image image{};
    // Header: model, #, manual management, #, local prefix 011 ended by #;
    // the small box has no beep or flash, its last four bytes stay zero.
    put(image, 0, {'Y', KH, 0, KH, K0, 1, 1, KH, 0, 0, 0, 0, 0, 0, 0, 0});

    // Each record is one key string: prefix, star, carrier code, hash.
    putRecord(image, 1, {3, 9, KS, 1, K0, 5, 5, KH});
    putRecord(image, 2, {K0, K0, 3, 9, KS, 1, K0, 8, 8, KH});
    putRecord(image, 3, {3, 4, 8, KS, 1, 2, KH});
    // Sixteen codes: the record is full and has no zero byte at all.
    putRecord(image, 4, {8, K0, K0, 1, 2, 3, 4, 5, 6, KS, 1, K0, 1, K0, K0, KH});
    putRecord(image, 50, {K0, 6, KS, 1, K0, 5, 5, KH});
    putRecord(image, 127, {3, 3, 5, KS, 4, 1, K0, K0, KH});

    // The small box sends a clock too (17:30, Friday).
    put(image, kClockOffset, {0x30, 0x17, 5});
    putText(image, "KOLVAR1 V1.04   ");
    return image;
}

} // namespace

Image sampleImage(Model model)
{
    return model == Model::Kolvar1 ? kolvar1() : kolvar22();
}

} // namespace boxsim
