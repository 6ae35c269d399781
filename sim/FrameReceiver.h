#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace boxsim {

enum class FrameKind {
    Read,         // 02 01 01
    Write,        // 02 01 02, the table follows
    RemoteRead,   // 02 01 05
    RemoteWrite,  // 02 01 06
    Dial,         // 02 L 03 and the digits
    HangUp,       // 02 03 03 02 02
    TablePart,    // what one chunk brought of a table, as it arrives
    Table,        // the 2051 bytes after a write request
    Unknown,      // a well-formed frame with another code
    Skipped,      // bytes outside any frame
};

struct Frame {
    FrameKind kind;
    std::vector<std::uint8_t> bytes;   // the whole frame, the table, the part or the skipped bytes
    std::size_t offset = 0;            // of a table part: where it starts in the table
};

// Splits what arrives on the line into frames. Every frame starts with 0x02
// and a length byte, so nothing it keeps can grow past 257 bytes, except the
// table after a write request, which is exactly 2051 bytes. The table's bytes
// are also reported as they arrive, one TablePart for what each feed brings,
// ahead of the whole Table.
class FrameReceiver {
public:
    void feed(const std::uint8_t* data, std::size_t size, std::vector<Frame>& frames);

    // True while a frame or a table is only partly received.
    bool midFrame() const { return state_ != State::Idle; }

    struct Dropped {
        bool table = false;        // the part was a table after a write request
        std::size_t bytes = 0;     // bytes of it received
    };
    // Forgets a partly received frame or table.
    Dropped reset();

private:
    enum class State { Idle, Length, Body, Table };

    void finishFrame(std::vector<Frame>& frames);
    void flushSkipped(std::vector<Frame>& frames);
    void flushPart(std::vector<Frame>& frames);

    State state_ = State::Idle;
    std::size_t length_ = 0;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> table_;
    std::size_t partStart_ = 0;        // table_ bytes already reported as parts
    std::vector<std::uint8_t> skipped_;
};

} // namespace boxsim
