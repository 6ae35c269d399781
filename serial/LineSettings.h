#pragma once

// How the port's settings map onto the terminal driver: a raw line that carries every byte
// unchanged, the character framing, the speed (a free one where the table has none), the
// handshake, and a read-back, because the driver reports success as soon as any one change
// was taken.

#include "serial/CommTypes.h"

// The settings a port asks of its line.
struct LineRequest
{
    TBaudrate baudRate = br9600;
    TDatabits databits = da8;
    TParity parity = paNone;
    TStopbits stopbits = sb10;
    TFlowControl flowControl = fcDefault;
    TCommOptions options;
    char xonChar = 17;
    char xoffChar = 19;
    char errorChar = 0;
    char eofChar = 0;
    char evtChar = 0;
    int readBufSize = 4096;
};

// Applies `want` to the open terminal `fd` and reads the result back. A software handshake
// found on the line is kept only when `softwareHandshakeIsOurs` (set by this port since it
// opened the device); a hardware one is always kept unless fcNone is asked for. Returns 0 and
// fills `applied` with the record as written, or the error code (errno, or EINVAL for a
// setting the driver cannot carry or did not take) with `applied` untouched.
int applyLineSettings(int fd, const LineRequest& want, bool softwareHandshakeIsOurs, TDataControlBlock& applied);

// Makes a read on `fd` return at once with what is queued (VMIN 1, VTIME 0): 0 or errno.
int applyImmediateReads(int fd);

// Microseconds the line needs for `bytes` bytes, start, parity and stop bits included.
long long lineTimeUs(const LineRequest& line, int bytes);
