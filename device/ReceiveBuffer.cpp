#include "device/ReceiveBuffer.h"

#include "device/Frames.h"

namespace {

// 0x02, the length byte and the code: nothing shorter is a frame.
constexpr int ShortestFrame = 3;

} // namespace

void ReceiveBuffer::store(const std::uint8_t* bytes, int count, const Events& events)
{
    for (int i = 0; i < count; ++i) {
        if (position_ < 0 || position_ >= Size)
            position_ = 0;
        bytes_[static_cast<size_t>(position_)] = bytes[i];
        ++position_;
        // Each model is checked in turn: completing a table clears the
        // buffer, so its first byte no longer matches the other model.
        for (const codec::Model model : { codec::Model::Kolvar22, codec::Model::Kolvar1 }) {
            if (codec::modelOfByte(bytes_[0]) != model)
                continue;
            if (events.tableByte)
                events.tableByte();
            if (position_ == codec::ImageSize && events.tableComplete)
                events.tableComplete(model, bytes_.data());
        }
    }
}

std::optional<std::uint8_t> ReceiveBuffer::replyFrameCode() const
{
    // The length byte and the code must have arrived in this accumulation;
    // older bytes left in the buffer say nothing about the frame.
    if (position_ < ShortestFrame || bytes_[0] != frames::Start || bytes_[1] != position_)
        return std::nullopt;
    return bytes_[2];
}

void ReceiveBuffer::clear()
{
    bytes_.fill(0);
    position_ = 0;
}
