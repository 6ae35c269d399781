#include "device/Pacer.h"

#include <QDateTime>

#include <chrono>
#include <thread>

void Pacer::pauseSince(TimePoint, int ms, const std::function<void()>& meanwhile)
{
    sleep(ms);
    if (meanwhile)
        meanwhile();
}

void RealPacer::sleep(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void RealPacer::pauseSince(TimePoint since, int ms, const std::function<void()>& meanwhile)
{
    if (meanwhile)
        meanwhile();
    if (ms > 0)
        std::this_thread::sleep_until(since + std::chrono::milliseconds(ms));
}

ClockReading RealClock::now() const
{
    const QDateTime t = QDateTime::currentDateTime();
    return { t.time().hour(), t.time().minute(), t.date().dayOfWeek() };
}
