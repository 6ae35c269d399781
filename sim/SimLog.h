#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace boxsim {

// The simulator's log: one line per event, each starting with the local
// date and time to the millisecond, then a tag (RX, FRAME, PIECE or NOTE).
// Lines are flushed at once so that a test can read the file while the box
// runs. Without a file every call does nothing.
//
// A written table is logged as it arrives, one PIECE line per chunk read from
// the line, with the milliseconds since the write request arrived, where the
// chunk starts in the 2051-byte table, and its bytes:
//   2026-12-07 14:03:22.145 PIECE +45.210 at 0: 55 0C 01 0C ...
// Bytes sent without a pause between them may arrive in one chunk.
class SimLog {
public:
    SimLog() = default;
    ~SimLog();
    SimLog(const SimLog&) = delete;
    SimLog& operator=(const SimLog&) = delete;

    bool open(const std::string& path, std::string& error);

    void received(const std::uint8_t* data, std::size_t size);
    void frame(const std::string& what, const std::uint8_t* data, std::size_t size);
    void piece(double msSinceRequest, std::size_t offset, const std::uint8_t* data, std::size_t size);
    void note(const std::string& text);

    static std::string hex(const std::uint8_t* data, std::size_t size);

private:
    void line(const char* tag, const std::string& text);

    std::FILE* file_ = nullptr;
};

} // namespace boxsim
