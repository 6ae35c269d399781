#pragma once

#include "device/Pacer.h"

#include <condition_variable>
#include <mutex>
#include <vector>

class QEventLoop;

// "Stop now" for sessions running on any thread: raised once, from any
// thread (a signal's thread, the audit's owner), it cuts short every wait
// of the sessions that watch it, so each puts its line down after the frame
// in progress.
class StopFlag
{
public:
    void request();
    bool requested() const;
    // Waits `ms` milliseconds, or less when the flag is raised meanwhile:
    // true when it is raised.
    bool wait(int ms) const;

    // The loop is told to quit when the flag is raised (at once when it is
    // raised already) until it is unwatched; call both on the loop's thread.
    void watch(QEventLoop* loop);
    void unwatch(QEventLoop* loop);

private:
    mutable std::mutex guard_;
    mutable std::condition_variable raised_;
    bool requested_ = false;
    std::vector<QEventLoop*> loops_;
};

// The waits of a remote session, cut short by a StopFlag (the session then
// sends nothing more but the hang-up). `scale` shortens every wait by one
// factor, for the simulator's tests only (see paceScale).
class StopPacer : public Pacer
{
public:
    explicit StopPacer(const StopFlag& stop, double scale = 1.0)
        : stop_(stop)
        , scale_(scale)
    {
    }
    void sleep(int ms) override;

private:
    const StopFlag& stop_;
    double scale_;
};

// PRADIX_PACE_SCALE, a factor between 0 and 1 by which the audit shortens
// the protocol's waits so tests against the simulator do not wait 4 s and
// 5 s per call; 1 when unset or unusable. Never set in the field.
double paceScale();
