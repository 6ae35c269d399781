// The serial port's own cost: CPU time of an open idle port (with and without unread bytes
// queued, and after the far end hung up) and the delay from a byte sent by the far end to the receive handler.

#include "bench/BenchSupport.h"
#include "serial/CommInt.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace {

void runLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU share of one core while the event loop idles for `ms` with the port open.
double idleCpuPct(int ms)
{
    const double before = bench::cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    runLoop(ms);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return (bench::cpuSeconds() - before) / wall * 100.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    // Set up as the main window does.
    TComm port;
    port.setReadTimeout(4000);
    port.setWriteTimeout(2000);
    port.setWriteBufSize(4096);
    port.setMonitorEvents({evRxChar, evTxEmpty});
    port.setFlowControl(fcNone);
    port.setDeviceName(QString::fromLocal8Bit(ttyname(slave)));
    try {
        port.Open();
        port.SetRTS(true);
        port.SetDTR(true);
    } catch (const ECommError& e) {
        std::fprintf(stderr, "serial_bench: %s\n", e.what());
        return 1;
    }

    const double idle = idleCpuPct(5000);
    std::printf("BENCH idle_cpu_pct %.3f pct target < 1\n", idle);

    // A handler that leaves the bytes where they are.
    int calls = 0;
    port.OnRxChar = [&](TCustomComm&, int) { ++calls; };
    const char hundred[100] = {};
    if (write(master, hundred, sizeof hundred) != 100)
        return 1;
    const double unread = idleCpuPct(5000);
    std::printf("BENCH idle_cpu_unread_pct %.3f pct target < 1\n", unread);

    // Latency: one byte at a time, the handler reads it and stops the clock.
    char drain[256];
    port.Read(drain, sizeof drain);
    std::vector<double> samples;
    std::chrono::steady_clock::time_point sent;
    QEventLoop wait;
    port.OnRxChar = [&](TCustomComm& sender, int count) {
        sender.Read(drain, std::min(count, int(sizeof drain)));
        samples.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count());
        wait.quit();
    };
    for (int i = 0; i < 200; ++i) {
        const size_t before = samples.size();
        sent = std::chrono::steady_clock::now();
        if (write(master, "U", 1) != 1)
            return 1;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &wait, &QEventLoop::quit);
        guard.start(2000);
        if (samples.size() == before)
            wait.exec();
        if (samples.size() == before) {
            std::fprintf(stderr, "serial_bench: byte %d never reached the handler\n", i);
            return 1;
        }
    }
    std::sort(samples.begin(), samples.end());
    std::printf("BENCH rx_latency_ms %.3f ms target < 5\n", samples[samples.size() / 2]);

    // The far end goes away (an adapter pulled out): the port must not spin on the dead line.
    port.OnRxChar = nullptr;
    ::close(master);
    ::close(slave);
    const double hungUp = idleCpuPct(5000);
    std::printf("BENCH hangup_cpu_pct %.3f pct target < 1\n", hungUp);
    port.Close();
    return 0;
}
