#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The test's end of the line: a pseudo-terminal slave in raw mode, so the
// simulator is seen exactly as the program sees it.
class RawPort {
public:
    RawPort() = default;
    ~RawPort() { close(); }
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;

    bool open(const std::string& path);
    void close();

    bool send(const std::vector<std::uint8_t>& bytes);

    // Collects bytes until count have arrived, the line hangs up, or the time
    // runs out (only a bound against a hang: nothing depends on it).
    std::vector<std::uint8_t> receive(std::size_t count, std::chrono::milliseconds timeout);

    // Reads that returned bytes during the last receive().
    std::size_t chunks() const { return chunks_; }
    bool hungUp() const { return hungUp_; }

private:
    int fd_ = -1;
    std::size_t chunks_ = 0;
    bool hungUp_ = false;
};
