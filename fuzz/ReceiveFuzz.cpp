// The bytes a box (or anything on the line) sends, in chunks of any size, as
// the receive handler stores them. The position must stay in the buffer, a
// table must be reported exactly at its 2067th byte, and decoding whatever a
// completed table holds must stay inside the grid.
#include "device/Codec.h"
#include "device/ReceiveBuffer.h"
#include "fuzz/FuzzCheck.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    ReceiveBuffer buffer;
    TableGrid grid;
    ReceiveBuffer::Events events;
    events.tableComplete = [&](codec::Model model, const std::uint8_t* image) {
        fuzzCheck(buffer.position() == codec::ImageSize, "table reported before its last byte");
        grid.fillData(QString());
        codec::decodeHeader(image, model, grid);
        for (int r = 2; r <= 128; ++r)
            codec::decodeRecord(image + codec::RecordSize * (r - 1), model, grid, r);
        codec::clockText(image + codec::ClockOffset);
        codec::deviceText(image + codec::DeviceTextOffset);
        buffer.clear();
    };
    // The first byte of each chunk gives the chunk's length, so the fuzzer
    // explores how bytes are split across receive events.
    size_t at = 0;
    while (at < size) {
        const size_t chunk = std::min<size_t>(size - at - 1, data[at] * 16u + 1u);
        ++at;
        buffer.store(data + at, static_cast<int>(chunk), events);
        fuzzCheck(buffer.position() >= 0 && buffer.position() <= ReceiveBuffer::Size, "position left the buffer");
        if (const auto code = buffer.replyFrameCode())
            fuzzCheck(buffer.position() >= 3 && buffer.data()[0] == 0x02, "a reply frame that is none");
        at += chunk;
    }
    return 0;
}
