#pragma once

// The passage of time as a transfer meets it: the blocking waits between the
// pieces of an exchange, and the computer's clock that a write hands to the
// box. Each has a real implementation; tests put in their own to record
// pauses instead of sleeping and to fix the time.

class Pacer
{
public:
    virtual ~Pacer() = default;
    // A blocking wait of a transfer; the event loop is not serviced.
    virtual void sleep(int ms) = 0;
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
};

class RealClock : public Clock
{
public:
    ClockReading now() const override;
};
