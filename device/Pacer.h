#pragma once

// The passage of time as a transfer meets it: the blocking waits between the
// pieces of an exchange, and the computer's clock that a write hands to the
// box. Each has a real implementation; tests put in their own to record
// pauses instead of sleeping and to fix the time.

#include <chrono>
#include <functional>

class Pacer
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Pacer() = default;
    // A blocking wait of a transfer; the event loop is not serviced.
    virtual void sleep(int ms) = 0;
    // The pause the box needs after a piece: `ms` counted from `since`, the
    // moment the piece had left for the line, with `meanwhile` (work that
    // need not hold the line up: showing progress) done inside it. Never
    // shorter than `ms` from `since`; longer only by what `meanwhile` takes
    // beyond it. A pacer that records its waits sees the prescribed `ms`
    // through sleep(), at the moment the pause starts.
    virtual void pauseSince(TimePoint since, int ms, const std::function<void()>& meanwhile);
};

struct ClockReading
{
    int hours = 0;   // 0..23
    int minutes = 0; // 0..59
    int weekday = 1; // 1 = Monday .. 7 = Sunday
};

class Clock
{
public:
    virtual ~Clock() = default;
    virtual ClockReading now() const = 0;
};

class RealPacer : public Pacer
{
public:
    void sleep(int ms) override;
    void pauseSince(TimePoint since, int ms, const std::function<void()>& meanwhile) override;
};

class RealClock : public Clock
{
public:
    ClockReading now() const override;
};
