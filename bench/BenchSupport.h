#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <QElapsedTimer>

#include <algorithm>
#include <functional>
#include <vector>

#include <sys/resource.h>

// What the benchmarks share: the process's CPU time, a median of timings,
// and a box simulator to measure against.
namespace bench {

// User and system time of this process so far, in seconds.
inline double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The median time of `times` calls of `work(1..times)`, in milliseconds,
// after one call `work(0)` that warms caches and is not counted; and the
// processor time they took, which a loaded machine does not stretch.
struct Timing
{
    double medianMs = 0;
    double cpuMs = 0; // the mean processor time of one call
};

inline Timing timed(int times, const std::function<void(int)>& work)
{
    work(0);
    std::vector<double> spent;
    const double cpu = cpuSeconds();
    for (int i = 1; i <= times; ++i) {
        QElapsedTimer timer;
        timer.start();
        work(i);
        spent.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(spent.begin(), spent.end());
    return { spent[spent.size() / 2], (cpuSeconds() - cpu) * 1000 / times };
}

inline double medianMs(int times, const std::function<void(int)>& work)
{
    return timed(times, work).medianMs;
}

#ifdef PRADIX_BOXSIM_PATH
// Starts the box simulator and returns the device path it prints, or an empty
// text when it did not start within ten seconds.
inline QString startSimulator(QProcess& sim, const QStringList& arguments = {})
{
    sim.start(QStringLiteral(PRADIX_BOXSIM_PATH), arguments);
    QByteArray path;
    while (!path.contains('\n') && sim.waitForReadyRead(10000))
        path += sim.readAllStandardOutput();
    return path.contains('\n') ? QString::fromLocal8Bit(path.left(path.indexOf('\n')).trimmed()) : QString();
}
#endif

} // namespace bench
