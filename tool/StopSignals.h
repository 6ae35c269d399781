#pragma once

#include "session/StopFlag.h"

#include <QObject>

// Ctrl+C and SIGTERM for the commands that must not leave a line behind
// them. Both signals are held back from every thread from the start of the
// program and taken by a thread of their own, so a port write or a wait is
// never cut by one: until a command arms the catch, a signal ends the
// program exactly as it would have; while it is armed, the signal is only
// noted, and the command stops at its next frame boundary (the pause after a
// piece, the wait for an answer) and puts its line down before it ends.
namespace tool {

// Called first thing in main(), before any thread is started.
void holdStopSignals();

class StopSignals : public QObject
{
    Q_OBJECT

public:
    // Armed for its lifetime; one at a time.
    StopSignals();
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The one armed now, or null.
    static StopSignals* current();
    // The signal noted since arming, or 0.
    static int received();
    // Waits `ms` milliseconds, or less when a signal comes: true when one
    // has come (before or during the wait).
    static bool wait(int ms);

    // Raised with the signal, from the thread that takes it: the sessions of
    // the command watch it, so a wait for an answer ends at once.
    StopFlag& flag() { return flag_; }

signals:
    // On the main thread, once a signal has been noted.
    void stopRequested(int signal);

private:
    StopFlag flag_;
};

} // namespace tool
