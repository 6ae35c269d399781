// Recognising a table and a reply frame in the bytes a box sends.

#include "device/ReceiveBuffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Recorder
{
    int tableBytes = 0;
    std::vector<std::pair<codec::Model, int>> completed; // model, position when completed
    ReceiveBuffer* buffer = nullptr;
    bool clearOnComplete = true;

    ReceiveBuffer::Events events()
    {
        ReceiveBuffer::Events e;
        e.tableByte = [this] { ++tableBytes; };
        e.tableComplete = [this](codec::Model m, const std::uint8_t* image) {
            ASSERT_EQ(image, buffer->data());
            completed.emplace_back(m, buffer->position());
            if (clearOnComplete)
                buffer->clear();
        };
        return e;
    }
};

std::vector<std::uint8_t> table(std::uint8_t first)
{
    std::vector<std::uint8_t> t(codec::ImageSize, 0x11);
    t[0] = first;
    return t;
}

} // namespace

TEST(ReceiveBuffer, TableIsRecognisedAtItsLastByteWhateverTheChunks)
{
    // Every chunk size a receive event can bring, up to the table and one byte beyond it in one.
    std::vector<std::uint8_t> bytes = table('U');
    for (size_t i = 1; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i * 7 + i / 256);
    const std::vector<std::uint8_t> image = bytes;
    bytes.push_back('Q'); // one byte beyond the table
    for (int chunk = 1; chunk <= int(bytes.size()); ++chunk) {
        ReceiveBuffer buffer;
        Recorder rec;
        rec.buffer = &buffer;
        std::vector<std::uint8_t> decoded;
        ReceiveBuffer::Events events = rec.events();
        events.tableComplete = [&](codec::Model m, const std::uint8_t* at) {
            decoded.assign(at, at + codec::ImageSize);
            rec.completed.emplace_back(m, buffer.position());
            buffer.clear();
        };
        for (size_t at = 0; at < bytes.size(); at += size_t(chunk)) {
            const int count = int(std::min(bytes.size() - at, size_t(chunk)));
            buffer.store(bytes.data() + at, count, events);
            // Every byte of the table counts once, whatever the chunk it came in.
            ASSERT_EQ(rec.tableBytes, std::min(int(at) + count, codec::ImageSize)) << chunk;
        }
        ASSERT_EQ(rec.completed.size(), 1u) << chunk;
        EXPECT_EQ(rec.completed[0].first, codec::Model::Kolvar22);
        EXPECT_EQ(rec.completed[0].second, codec::ImageSize);
        ASSERT_EQ(decoded, image) << chunk;
        // The byte after the table starts a new accumulation.
        EXPECT_EQ(buffer.position(), 1) << chunk;
        EXPECT_EQ(buffer.data()[0], 'Q');
    }
}

TEST(ReceiveBuffer, BothModelsAndUnknownFirstBytes)
{
    ReceiveBuffer buffer;
    Recorder rec;
    rec.buffer = &buffer;
    auto y = table('Y');
    buffer.store(y.data(), int(y.size()), rec.events());
    ASSERT_EQ(rec.completed.size(), 1u);
    EXPECT_EQ(rec.completed[0].first, codec::Model::Kolvar1);

    // Garbage first: nothing is recognised, the bytes keep accumulating.
    auto g = table('Z');
    buffer.store(g.data(), int(g.size()), rec.events());
    EXPECT_EQ(rec.completed.size(), 1u);
    EXPECT_EQ(buffer.position(), codec::ImageSize);
}

TEST(ReceiveBuffer, PositionNeverLeavesTheBuffer)
{
    ReceiveBuffer buffer;
    Recorder rec;
    rec.buffer = &buffer;
    std::vector<std::uint8_t> junk(3 * ReceiveBuffer::Size + 5, 0x33);
    buffer.store(junk.data(), int(junk.size()), rec.events());
    EXPECT_GE(buffer.position(), 1);
    EXPECT_LE(buffer.position(), ReceiveBuffer::Size);
    EXPECT_EQ(buffer.position(), int(junk.size() % ReceiveBuffer::Size == 0 ? ReceiveBuffer::Size
                                                                            : junk.size() % ReceiveBuffer::Size));

    // A table whose handler does not clear goes on into the spare byte, then restarts.
    ReceiveBuffer kept;
    Recorder keep;
    keep.buffer = &kept;
    keep.clearOnComplete = false;
    auto u = table('U');
    u.push_back(1);
    u.push_back(2);
    kept.store(u.data(), int(u.size()), keep.events());
    EXPECT_EQ(kept.position(), 1);
    EXPECT_EQ(kept.data()[0], 2);
}

TEST(ReceiveBuffer, ReplyFrames)
{
    ReceiveBuffer buffer;
    Recorder rec;
    rec.buffer = &buffer;
    const std::uint8_t first[] = { 0x02, 0x03 };
    buffer.store(first, 2, rec.events());
    EXPECT_FALSE(buffer.replyFrameCode());
    const std::uint8_t code[] = { 0x07 };
    buffer.store(code, 1, rec.events());
    ASSERT_TRUE(buffer.replyFrameCode());
    EXPECT_EQ(*buffer.replyFrameCode(), 7);

    // A length byte left from an earlier accumulation is not taken for a frame.
    buffer.restart();
    const std::uint8_t lone[] = { 0x02 };
    buffer.store(lone, 1, rec.events());
    EXPECT_FALSE(buffer.replyFrameCode());

    // A frame whose length has not arrived yet in full is not complete.
    buffer.clear();
    const std::uint8_t longer[] = { 0x02, 0x05, 0x08 };
    buffer.store(longer, 3, rec.events());
    EXPECT_FALSE(buffer.replyFrameCode());
    EXPECT_TRUE(rec.completed.empty());
}

TEST(ReceiveBuffer, ReplyFrameFollowedByAByteInTheSameChunkIsNoReply)
{
    // A frame is looked for once per receive event, after the whole chunk: its length byte
    // must then equal the bytes accumulated, and with a byte after it it does not.
    ReceiveBuffer buffer;
    Recorder rec;
    rec.buffer = &buffer;
    const std::uint8_t chunk[] = { 0x02, 0x03, 0x07, 0x55 };
    buffer.store(chunk, 4, rec.events());
    EXPECT_FALSE(buffer.replyFrameCode());
    EXPECT_EQ(buffer.position(), 4);
    EXPECT_EQ(rec.tableBytes, 0);

    // The same bytes in two events: the frame is whole at the end of the first.
    buffer.clear();
    buffer.store(chunk, 3, rec.events());
    ASSERT_TRUE(buffer.replyFrameCode());
    EXPECT_EQ(*buffer.replyFrameCode(), 7);
}
