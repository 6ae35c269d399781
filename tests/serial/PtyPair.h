#pragma once

// A pseudo-terminal standing in for a serial line: the port opens the slave by its path, the
// test plays the far end on the master.

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <chrono>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

class PtyPair
{
public:
    PtyPair()
    {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        path = QString::fromLocal8Bit(ttyname(slave));
        // A terminal as a login would leave it: everything the port must undo switched on.
        termios t{};
        tcgetattr(slave, &t);
        t.c_iflag |= IXON | ICRNL;
        t.c_oflag |= OPOST | ONLCR;
        t.c_lflag |= ECHO | ICANON | ISIG;
        tcsetattr(slave, TCSANOW, &t);
    }
    ~PtyPair()
    {
        closeMaster();
        if (slave >= 0)
            ::close(slave);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master >= 0 && slave >= 0 && !path.isEmpty(); }

    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    bool send(const QByteArray& bytes) const
    {
        qsizetype done = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
        return true;
    }

    // Reads exactly `count` bytes, waiting at most 20 s for them; fewer if they never come.
    QByteArray receive(int count) const
    {
        QByteArray out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        char buf[4096];
        while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
            const int want = std::min<int>(int(sizeof buf), count - int(out.size()));
            const ssize_t n = ::read(master, buf, size_t(want));
            if (n > 0) {
                out.append(buf, int(n));
                continue;
            }
            pollfd p{master, POLLIN, 0};
            ::poll(&p, 1, 100);
        }
        return out;
    }

    // Whatever is waiting at the master right now.
    QByteArray pending() const
    {
        QByteArray out;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(master, buf, sizeof buf)) > 0)
            out.append(buf, int(n));
        return out;
    }

    int master = -1;
    int slave = -1; // kept open so the terminal keeps its settings between ports
    QString path;
};
