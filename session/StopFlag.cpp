#include "session/StopFlag.h"

#include <QEventLoop>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

void quitLater(QEventLoop* loop)
{
    // Queued: the loop runs on its own thread, and quits once it is running.
    QMetaObject::invokeMethod(loop, &QEventLoop::quit, Qt::QueuedConnection);
}

} // namespace

void StopFlag::request()
{
    const std::lock_guard<std::mutex> lock(guard_);
    if (requested_)
        return;
    requested_ = true;
    for (QEventLoop* loop : loops_)
        quitLater(loop);
    raised_.notify_all();
}

bool StopFlag::requested() const
{
    const std::lock_guard<std::mutex> lock(guard_);
    return requested_;
}

bool StopFlag::wait(int ms) const
{
    std::unique_lock<std::mutex> lock(guard_);
    return raised_.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)), [this] { return requested_; });
}

void StopFlag::watch(QEventLoop* loop)
{
    const std::lock_guard<std::mutex> lock(guard_);
    loops_.push_back(loop);
    if (requested_)
        quitLater(loop);
}

void StopFlag::unwatch(QEventLoop* loop)
{
    const std::lock_guard<std::mutex> lock(guard_);
    loops_.erase(std::remove(loops_.begin(), loops_.end(), loop), loops_.end());
}

void StopPacer::sleep(int ms)
{
    stop_.wait(int(ms * scale_));
}

double paceScale()
{
    const char* text = std::getenv("PRADIX_PACE_SCALE");
    if (!text)
        return 1.0;
    char* end = nullptr;
    const double scale = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(scale > 0.0) || scale > 1.0)
        return 1.0;
    return scale;
}
