#include "tool/StopSignals.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <signal.h>

namespace tool {

namespace {

std::mutex guard;
std::condition_variable arrived;
StopSignals* armed = nullptr;
int noted = 0;

sigset_t stopSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Ends the program by `signal` as if it had never been held back.
[[noreturn]] void endBy(int signal)
{
    ::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);
}

void takeSignals()
{
    const sigset_t set = stopSet();
    for (;;) {
        int signal = 0;
        if (::sigwait(&set, &signal) != 0)
            continue;
        std::unique_lock<std::mutex> lock(guard);
        if (!armed)
            endBy(signal);
        if (noted != 0)
            continue; // a second signal while the line is being put down changes nothing
        noted = signal;
        arrived.notify_all();
        armed->flag().request();
        StopSignals* target = armed;
        QMetaObject::invokeMethod(
            target, [target, signal] { emit target->stopRequested(signal); }, Qt::QueuedConnection);
    }
}

} // namespace

void holdStopSignals()
{
    const sigset_t set = stopSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(takeSignals).detach();
}

StopSignals::StopSignals()
{
    const std::lock_guard<std::mutex> lock(guard);
    armed = this;
    noted = 0;
}

StopSignals::~StopSignals()
{
    const std::lock_guard<std::mutex> lock(guard);
    armed = nullptr;
}

StopSignals* StopSignals::current()
{
    const std::lock_guard<std::mutex> lock(guard);
    return armed;
}

int StopSignals::received()
{
    const std::lock_guard<std::mutex> lock(guard);
    return noted;
}

bool StopSignals::wait(int ms)
{
    std::unique_lock<std::mutex> lock(guard);
    return arrived.wait_for(lock, std::chrono::milliseconds(ms), [] { return noted != 0; });
}

} // namespace tool
