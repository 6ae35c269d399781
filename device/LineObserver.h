#pragma once

#include <QString>

#include <cstdint>

// Hears every byte that goes to the box or comes from it, in the order the
// port wrote and read them, on the thread that did so (the UI thread, or the
// thread a command-line front end runs its exchange on). It takes its own
// time stamps. Installed on an Exchange; the write plan's send reports
// through the same one.
class LineObserver
{
public:
    virtual ~LineObserver() = default;

    // What the operator did (a button's caption, a command line) that starts
    // the exchanges that follow, told before their first byte.
    virtual void action(const QString& what) { (void)what; }
    // The port opened on `deviceName`, or closed.
    virtual void opened(const QString& deviceName) = 0;
    virtual void closed() = 0;
    // The port could not be opened on `deviceName`: `message` is the port's error.
    virtual void openFailed(const QString& deviceName, const QString& message)
    {
        (void)deviceName;
        (void)message;
    }
    // One port write: `count` bytes handed to it, `result` what it returned
    // (the count taken, or -1 when the line did not take them in time).
    virtual void written(const std::uint8_t* bytes, int count, int result) = 0;
    // One port read: the bytes it delivered.
    virtual void read(const std::uint8_t* bytes, int count) = 0;
};
