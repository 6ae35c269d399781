#include "serial/LineSettings.h"

#include <cerrno>
#include <cstdlib>

#include <sys/ioctl.h>
#include <termios.h>

// The kernel's settings record with free speeds (glibc's headers do not declare it; including
// the kernel's own header would clash with <termios.h>).
struct termios2
{
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};

namespace {

#ifndef BOTHER
constexpr tcflag_t BOTHER = 0010000;
#endif
#ifndef IBSHIFT
constexpr int IBSHIFT = 16;
#endif

speed_t standardSpeed(int rate)
{
    switch (rate) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

// The settings that make the line carry every byte unchanged: any of these left on would
// swallow 0x11/0x13, turn 0x0D into 0x0A, expand 0x0A or raise a signal on 0x03.
// HUPCL stays on: the driver lowers DTR when the last descriptor of the port is closed,
// also when the program is killed, so a dialling unit sees the port let go and puts down
// the call it was holding.
void makeRaw(termios& t)
{
    cfmakeraw(&t);
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK | INPCK | IGNPAR);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
    t.c_cflag |= HUPCL | CLOCAL | CREAD;
}

constexpr tcflag_t checkedCflags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CLOCAL | CREAD;
constexpr tcflag_t checkedIflags = IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK | INPCK;
constexpr tcflag_t checkedLflags = ICANON | ECHO | ISIG | IEXTEN;

bool sameSettings(const termios& want, const termios& got)
{
    return (want.c_cflag & checkedCflags) == (got.c_cflag & checkedCflags)
        && (want.c_iflag & checkedIflags) == (got.c_iflag & checkedIflags)
        && (want.c_lflag & checkedLflags) == (got.c_lflag & checkedLflags)
        && (want.c_oflag & OPOST) == (got.c_oflag & OPOST)
        && want.c_cc[VMIN] == got.c_cc[VMIN] && want.c_cc[VTIME] == got.c_cc[VTIME]
        && want.c_cc[VSTART] == got.c_cc[VSTART] && want.c_cc[VSTOP] == got.c_cc[VSTOP];
}

// Writes the settings and reads them back: tcsetattr reports success as soon as any one
// change was taken.
int applySettings(int fd, const termios& want)
{
    if (tcsetattr(fd, TCSANOW, &want) != 0)
        return errno;
    termios got{};
    if (tcgetattr(fd, &got) != 0)
        return errno;
    return sameSettings(want, got) ? 0 : EINVAL;
}

// Speeds outside the classic table go through the kernel's free-speed request.
int applyFreeSpeed(int fd, int rate)
{
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    t.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER; // input speed follows the output speed
    t.c_ispeed = static_cast<speed_t>(rate);
    t.c_ospeed = static_cast<speed_t>(rate);
    if (ioctl(fd, TCSETS2, &t) != 0)
        return errno;
    termios2 got{};
    if (ioctl(fd, TCGETS2, &got) != 0)
        return errno;
    // A UART gives the nearest speed its clock can divide down to.
    const long diff = std::labs(static_cast<long>(got.c_ospeed) - rate);
    return diff * 50 <= rate ? 0 : EINVAL;
}

// The record as the port describes its settings, before the handshake is known.
TDataControlBlock recordOf(const LineRequest& want)
{
    TDataControlBlock d;
    d.BaudRate = baudRateValue(want.baudRate);
    d.ByteSize = 4 + static_cast<int>(want.databits);
    d.Parity = static_cast<int>(want.parity);
    d.StopBits = static_cast<int>(want.stopbits);
    d.XonChar = want.xonChar;
    d.XoffChar = want.xoffChar;
    d.ErrorChar = want.errorChar;
    d.EofChar = want.eofChar;
    d.EvtChar = want.evtChar;
    d.XonLim = want.readBufSize / 4;
    d.XoffLim = want.readBufSize / 4;
    return d;
}

// Character size, stop bits and parity: 0, or EINVAL for a framing no UART sends.
int setFraming(termios& t, const LineRequest& want)
{
    t.c_cflag &= ~tcflag_t(CSIZE);
    switch (want.databits) {
    case da5: t.c_cflag |= CS5; break;
    case da6: t.c_cflag |= CS6; break;
    case da7: t.c_cflag |= CS7; break;
    case da8: t.c_cflag |= CS8; break;
    default: return EINVAL; // no terminal driver sends 4-bit characters
    }

    t.c_cflag &= ~tcflag_t(CSTOPB);
    if (want.stopbits == sb20)
        t.c_cflag |= CSTOPB;
    else if (want.stopbits == sb15) {
        // A UART gives one and a half stop bits only as the "two" setting with 5-bit characters.
        if (want.databits != da5)
            return EINVAL;
        t.c_cflag |= CSTOPB;
    } else if (want.stopbits != sb10)
        return EINVAL;

    t.c_cflag &= ~tcflag_t(PARENB | PARODD | CMSPAR);
    switch (want.parity) {
    case paNone: break;
    case paOdd: t.c_cflag |= PARENB | PARODD; break;
    case paEven: t.c_cflag |= PARENB; break;
    case paMark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case paSpace: t.c_cflag |= PARENB | CMSPAR; break;
    default: return EINVAL;
    }
    return 0;
}

// Software handshake exists only when asked for: the cooked-mode IXON a terminal starts with
// would swallow 0x11 and 0x13, which are bytes of a table. fcNone drops every handshake; the
// other modes only add theirs to what the line already has. 0, or EINVAL.
int setHandshake(termios& t, const LineRequest& want, bool hadHardware, bool hadSoftware, TDataControlBlock& d)
{
    t.c_cc[VSTART] = static_cast<cc_t>(d.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(d.XoffChar);
    t.c_cflag &= ~tcflag_t(CRTSCTS);
    switch (want.flowControl) {
    case fcNone: break;
    case fcDTR: return EINVAL; // the terminal driver has no DSR/DTR handshake
    case fcCTS:
    case fcSoftware:
    case fcDefault:
        if (hadHardware || want.flowControl == fcCTS)
            t.c_cflag |= CRTSCTS;
        if (hadSoftware || want.flowControl == fcSoftware)
            t.c_iflag |= IXON | IXOFF;
        break;
    default: return EINVAL;
    }
    d.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    d.fOutX = d.fInX = (t.c_iflag & IXON) != 0;
    return d.fOutX && d.XonChar == d.XoffChar ? EINVAL : 0;
}

// Parity errors are always counted (OnError); coParityCheck also has the driver check the
// parity of what arrives, and then a byte received with a parity error is read as the code 0:
// coErrorChar can ask for no other replacement. The driver cannot follow DSR or drop NUL
// bytes; it always keeps sending after it has sent XOFF. 0, or EINVAL.
int setOptions(termios& t, const LineRequest& want, TDataControlBlock& d)
{
    d.fParity = want.options.contains(coParityCheck);
    d.fErrorChar = want.options.contains(coErrorChar);
    d.fTXContinueOnXoff = want.options.contains(coIgnoreXOff);
    if (want.options.contains(coDsrSensitivity) || want.options.contains(coNullStrip))
        return EINVAL;
    if (d.fParity) {
        if (d.fErrorChar && d.ErrorChar != 0)
            return EINVAL;
        t.c_iflag |= INPCK;
    }
    return 0;
}

// Writes the settings with their speed and reads them back.
int applyWithSpeed(int fd, termios& t, int rate)
{
    const speed_t speed = standardSpeed(rate);
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    if (const int e = applySettings(fd, t))
        return e;
    if (speed == B0)
        return applyFreeSpeed(fd, rate);
    return cfgetospeed(&t) == speed ? 0 : EINVAL;
}

} // namespace

int baudRateValue(TBaudrate rate)
{
    static const int values[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400,
                                 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    const int i = static_cast<int>(rate);
    return i >= 0 && i < int(sizeof values / sizeof values[0]) ? values[i] : 0;
}

int applyLineSettings(int fd, const LineRequest& want, bool softwareHandshakeIsOurs, TDataControlBlock& applied)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return errno;
    const bool hadHardware = (t.c_cflag & CRTSCTS) != 0;
    // Software handshake is the port's to keep only when it set it: the IXON a cooked terminal
    // starts with is no handshake anyone asked for.
    const bool hadSoftware = softwareHandshakeIsOurs && (t.c_iflag & IXON) != 0;

    TDataControlBlock d = recordOf(want);
    makeRaw(t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (const int e = setFraming(t, want))
        return e;
    if (const int e = setHandshake(t, want, hadHardware, hadSoftware, d))
        return e;
    if (const int e = setOptions(t, want, d))
        return e;
    if (const int e = applyWithSpeed(fd, t, d.BaudRate))
        return e;
    applied = d;
    return 0;
}

int applyImmediateReads(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return errno;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) != 0 ? errno : 0;
}

long long lineTimeUs(const LineRequest& line, int bytes)
{
    int baud = baudRateValue(line.baudRate);
    if (baud <= 0)
        baud = 9600;
    // Start bit, data bits, parity bit and stop bits, in half bits so that 1.5 stop bits count.
    const int halfBits = 2 * (1 + 4 + static_cast<int>(line.databits)) + (line.parity == paNone ? 0 : 2)
        + (line.stopbits == sb10 ? 2 : line.stopbits == sb15 ? 3 : 4);
    return static_cast<long long>(bytes) * halfBits * 500000LL / baud;
}
