#include "RawPort.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

bool RawPort::open(const std::string& path)
{
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    termios t{};
    if (tcgetattr(fd_, &t) != 0) {
        close();
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
        close();
        return false;
    }
    hungUp_ = false;
    return true;
}

void RawPort::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool RawPort::send(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd pfd{fd_, POLLOUT, 0};
            if (poll(&pfd, 1, 2000) <= 0 && errno != EINTR)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> RawPort::receive(std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> bytes;
    chunks_ = 0;
    const auto deadline = Clock::now() + timeout;
    while (bytes.size() < count && fd_ >= 0 && !hungUp_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) <= 0)
            continue;
        std::uint8_t buffer[4096];
        const std::size_t want = std::min(sizeof buffer, count - bytes.size());
        const ssize_t n = read(fd_, buffer, want);
        if (n > 0) {
            bytes.insert(bytes.end(), buffer, buffer + n);
            ++chunks_;
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            hungUp_ = true;
        }
    }
    return bytes;
}
