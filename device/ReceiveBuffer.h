#pragma once

#include "device/Codec.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

// The bytes a box sends, accumulated across receive events until they make a
// whole table or a reply frame. A table is recognised byte by byte, at its
// 2067th byte even in the middle of a chunk, by its first byte 'U' or 'Y'; a
// reply frame (0x02, total length, code) once per receive event, when the
// bytes accumulated reach its length.
class ReceiveBuffer
{
public:
    static constexpr int Size = codec::ImageSize + 1;

    struct Events
    {
        // Each stored byte of a table under way.
        std::function<void()> tableByte;
        // The table is whole; `image` holds its 2067 bytes. The handler is
        // expected to clear() the buffer once it has decoded the table.
        std::function<void(codec::Model model, const std::uint8_t* image)> tableComplete;
    };

    // Stores the bytes in order and reports table progress and completion.
    // The position never leaves the buffer: when it is full with nothing
    // recognised, the accumulation starts again at 0.
    void store(const std::uint8_t* bytes, int count, const Events& events);

    // The code of a complete reply frame, if the bytes accumulated are one.
    std::optional<std::uint8_t> replyFrameCode() const;

    // Next bytes overwrite the buffer from index 0; the old bytes stay.
    void restart() { position_ = 0; }
    // All bytes zero, position 0.
    void clear();

    int position() const { return position_; }
    const std::uint8_t* data() const { return bytes_.data(); }

private:
    std::array<std::uint8_t, Size> bytes_ {};
    int position_ = 0;
};
