#include "sim/SimLog.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace boxsim {

SimLog::~SimLog()
{
    if (file_)
        std::fclose(file_);
}

bool SimLog::open(const std::string& path, std::string& error)
{
    file_ = std::fopen(path.c_str(), "we");
    if (!file_) {
        error = "cannot write the log " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string SimLog::hex(const std::uint8_t* data, std::size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        if (i)
            text += ' ';
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

void SimLog::received(const std::uint8_t* data, std::size_t size)
{
    if (file_)
        line("RX", hex(data, size));
}

void SimLog::frame(const std::string& what, const std::uint8_t* data, std::size_t size)
{
    if (!file_)
        return;
    std::string text = what;
    if (size) {
        text += ' ';
        text += hex(data, size);
    }
    line("FRAME", text);
}

void SimLog::piece(double msSinceRequest, std::size_t offset, const std::uint8_t* data, std::size_t size)
{
    if (!file_)
        return;
    char head[64];
    std::snprintf(head, sizeof head, "+%.3f at %zu: ", msSinceRequest, offset);
    line("PIECE", head + hex(data, size));
}

void SimLog::note(const std::string& text)
{
    if (file_)
        line("NOTE", text);
}

void SimLog::line(const char* tag, const std::string& text)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    stamp[n] = '\0';
    std::fprintf(file_, "%s.%03ld %s %s\n", stamp, now.tv_nsec / 1000000L, tag, text.c_str());
    std::fflush(file_);
}

} // namespace boxsim
