#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace boxsim {

// The box's table as it travels on the line: header, 127 association
// records, clock block and the box's own 16-character text.
constexpr std::size_t kImageSize = 2067;
constexpr std::size_t kRecordSize = 16;
constexpr std::size_t kRecordCount = 127;
constexpr std::size_t kClockOffset = 2048;
constexpr std::size_t kTextOffset = 2051;
constexpr std::size_t kTextSize = 16;
// A written table carries everything but the device text.
constexpr std::size_t kWrittenSize = kTextOffset;

using Image = std::array<std::uint8_t, kImageSize>;

} // namespace boxsim
