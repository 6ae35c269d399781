#include "device/Pacer.h"

#include <QDateTime>

#include <chrono>
#include <thread>

void RealPacer::sleep(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ClockReading RealClock::now() const
{
    const QDateTime t = QDateTime::currentDateTime();
    return { t.time().hour(), t.time().minute(), t.date().dayOfWeek() };
}
