#include "serial/CommInt.h"

#include "serial/CommEventThread.h"
#include "serial/HandlerGuard.h"
#include "serial/LineSettings.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// How long Close waits for the monitoring thread to let go of the device; it ends as soon
// as it is woken, so this bounds only a machine that does not schedule it.
constexpr int CloseWaitMs = 500;

const char* const msgAlreadyOpen = "Port already assigned (open)";
const char* const msgAccess = "Error accessing specified device";
const char* const msgInvalidHandle = "Invalid device handle, access denied";
const char* const msgBuffers = "Error initializing Read/Write Buffers";
const char* const msgTimeouts = "Error updating CommTimeouts";
const char* const msgDCB = "Error updating DataControlBlock";
const char* const msgWrite = "Write error";
const char* const msgRead = "Read error";
const char* const msgEscape = "EscapeCommFunction failure";
const char* const msgNotOpen = "Port not open, unable to complete operation";
const char* const msgWait = "Error waiting for port events";

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

// Whether a device node is a terminal, told before opening it: opening some devices has effects
// of its own (a watchdog starts counting), so a typed name must not open just anything.
bool isTerminalNode(dev_t rdev)
{
    const unsigned maj = major(rdev);
    if (maj >= 136 && maj <= 143) // pseudo-terminal slaves, which sysfs does not list
        return true;
    char link[PATH_MAX];
    const QByteArray entry = QByteArray("/sys/dev/char/") + QByteArray::number(maj) + ':'
        + QByteArray::number(minor(rdev)) + "/subsystem";
    const ssize_t n = ::readlink(entry.constData(), link, sizeof link - 1);
    if (n < 0) // no sysfs to ask: the terminal check after opening has to do
        return errno == ENOENT && ::access("/sys/dev/char", F_OK) != 0;
    link[n] = '\0';
    const char* slash = std::strrchr(link, '/');
    return std::strcmp(slash ? slash + 1 : link, "tty") == 0;
}

} // namespace

ECommError::ECommError(const QString& text, int code, const QString& device)
    : std::runtime_error((text + QStringLiteral(" (Error: %1) ").arg(code)).toStdString()),
      fErrorCode(code),
      fMessage(text + QStringLiteral(" (Error: %1) ").arg(code)),
      fDevice(device)
{
}

std::uint32_t eventMaskOf(TCommEventTypes events)
{
    static const std::uint32_t bits[9] = {EV_BREAK, EV_CTS, EV_DSR, EV_ERR, EV_RING,
                                          EV_RLSD, EV_RXCHAR, EV_RXFLAG, EV_TXEMPTY};
    std::uint32_t mask = 0;
    for (int i = 0; i < 9; ++i)
        if (events.contains(static_cast<TCommEventType>(i)))
            mask |= bits[i];
    return mask;
}

QString portLinkFolder()
{
    // Only an absolute XDG_CONFIG_HOME counts; a relative one is ignored as if unset.
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/pradix/ports");
}

QString resolvePortName(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return QString();
    if (trimmed.contains(QLatin1Char('/')))
        return trimmed;
    static const QRegularExpression comName(QStringLiteral("^[Cc][Oo][Mm]([1-9][0-9]{0,2})$"));
    const QRegularExpressionMatch m = comName.match(trimmed);
    if (m.hasMatch()) {
        const int n = m.captured(1).toInt();
        const QString link = portLinkFolder() + QStringLiteral("/com%1").arg(n);
        // The link itself decides, even when it dangles: a stand-in that has gone away must give
        // an error, not a silent switch to a real port.
        struct stat st;
        if (::lstat(QFile::encodeName(link).constData(), &st) == 0)
            return link;
        return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return QStringLiteral("/dev/") + trimmed;
}

// ---------------------------------------------------------------------------------------------

TCommEventChars::TCommEventChars(TCustomComm* owner) : fOwner(owner) {}

TCommEventChars& TCommEventChars::operator=(const TCommEventChars& source)
{
    if (this != &source) {
        fXonChar = source.fXonChar;
        fXoffChar = source.fXoffChar;
        fErrorChar = source.fErrorChar;
        fEofChar = source.fEofChar;
        fEvtChar = source.fEvtChar;
    }
    return *this;
}

void TCommEventChars::Assign(const TCommEventChars* source)
{
    if (!source)
        throw std::invalid_argument("Cannot assign nothing to a TCommEventChars");
    *this = *source;
}

void TCommEventChars::store(char& field, char value)
{
    field = value;
    if (fOwner)
        fOwner->UpdateDataControlBlock();
}

void TCommEventChars::setXonChar(char value)
{
    store(fXonChar, value);
}

void TCommEventChars::setXoffChar(char value)
{
    store(fXoffChar, value);
}

void TCommEventChars::setErrorChar(char value)
{
    store(fErrorChar, value);
}

void TCommEventChars::setEofChar(char value)
{
    store(fEofChar, value);
}

void TCommEventChars::setEvtChar(char value)
{
    store(fEvtChar, value);
}

// ---------------------------------------------------------------------------------------------

TCustomComm::TCustomComm(QObject* owner)
    : QObject(owner), fDeviceName(QStringLiteral("Com2")), fEventChars(this)
{
}

TCustomComm::~TCustomComm()
{
    Close();
}

void TCustomComm::RaiseCommError(const QString& text, int code)
{
    throw ECommError(text, code);
}

void TCustomComm::RequireClosed() const
{
    if (fHandle >= 0)
        RaiseCommError(QString::fromLatin1(msgAlreadyOpen), -1);
}

void TCustomComm::OpenDevice()
{
    const QString path = resolvePortName(fDeviceName);
    const QByteArray local = QFile::encodeName(path);
    const auto refused = [&path](int code) { throw ECommError(QString::fromLatin1(msgAccess), code, path); };
    if (local.isEmpty())
        RaiseCommError(QString::fromLatin1(msgAccess), ENOENT);
    if (local.contains('\0'))
        RaiseCommError(QString::fromLatin1(msgAccess), EINVAL);

    struct stat node {};
    if (::stat(local.constData(), &node) != 0)
        refused(errno);
    if (!S_ISCHR(node.st_mode) || !isTerminalNode(node.st_rdev))
        RaiseCommError(QString::fromLatin1(msgInvalidHandle), -1);

    // Until every check has passed the descriptor is this function's: a refusal closes it
    // again (which also drops a lock already taken). Nothing was made exclusive before the
    // last step, so a plain close is all it needs.
    struct Descriptor
    {
        int fd;
        ~Descriptor()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } device { ::open(local.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) };
    if (device.fd < 0)
        refused(errno);

    struct stat st {};
    if (fstat(device.fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != node.st_rdev || !isatty(device.fd))
        RaiseCommError(QString::fromLatin1(msgInvalidHandle), -1);
    // flock holds even against root, TIOCEXCL keeps out programs that do not lock.
    if (flock(device.fd, LOCK_EX | LOCK_NB) != 0)
        refused(errno);
    if (ioctl(device.fd, TIOCEXCL) != 0)
        refused(errno);

    fHandle = device.fd;
    device.fd = -1;
    fExclusive = true;
}

void TCustomComm::CloseDevice()
{
    if (fHandle < 0)
        return;
    // A pseudo-terminal would stay exclusive after we let go.
    if (fExclusive)
        ioctl(fHandle, TIOCNXCL);
    fExclusive = false;
    // Explicit: the monitoring thread's duplicate would otherwise keep the lock a while.
    flock(fHandle, LOCK_UN);
    ::close(fHandle);
    fHandle = -1;
}

void TCustomComm::Open()
{
    RequireClosed();
    OpenDevice();
    if (fHandle < 0)
        return;
    // Nothing on the device just opened was set by this port (see UpdateDataControlBlock).
    fDCB = TDataControlBlock();
    fWriteCalls = 0;

    auto thread = TCommEventThread::create(fHandle, eventMaskOf(fMonitorEvents), this);
    if (!thread) {
        const int e = errno;
        CloseDevice();
        RaiseCommError(QString::fromLatin1(msgAccess), e);
    }
    fEventThread = thread;
    // A handler that fails closes the port before its error is reported: the reporter's message
    // box can then never re-enter a handler of this port, and a device that fails every call
    // yields one message. The error goes no further than the reporter: this call runs inside
    // the toolkit's event delivery, which an exception must not unwind.
    thread->OnSignal = [this](TCommEventThread& sender, std::uint32_t mask) {
        try {
            HandleEvents(sender, mask);
        } catch (...) {
            Close();
            reportEscaped();
        }
    };
    // A monitor that can no longer wait leaves the port deaf: it is closed, and the operator
    // hears of it the same way.
    thread->OnWaitFailed = [this](TCommEventThread& sender, int error) {
        if (fEventThread.get() != &sender)
            return;
        Close();
        try {
            RaiseCommError(QString::fromLatin1(msgWait), error);
        } catch (...) {
            reportEscaped();
        }
    };

    UpdateCommTimeouts();
    UpdateDataControlBlock();
    // The terminal driver's queues have fixed sizes; only nonsense sizes are refused.
    if (fReadBufSize <= 0 || fWriteBufSize <= 0)
        RaiseCommError(QString::fromLatin1(msgBuffers), EINVAL);
}

int TCustomComm::OutputPending() const
{
    int queued = 0;
    if (ioctl(fHandle, TIOCOUTQ, &queued) != 0)
        return 0;
    if (queued > 0)
        return queued;
    // A UART's own buffer and shift register are not in the driver's count: up to a few dozen
    // bytes may still be sending when the queue reads empty. Where the driver tells, wait for
    // the transmitter itself; a pseudo-terminal and most USB adapters do not, and count as out.
    unsigned int status = 0;
    if (ioctl(fHandle, TIOCSERGETLSR, &status) == 0 && !(status & TIOCSER_TEMT))
        return 1;
    return 0;
}

bool TCustomComm::drainOutput(Clock::time_point deadline)
{
    for (;;) {
        const int pending = OutputPending();
        if (pending <= 0)
            return true;
        const auto now = Clock::now();
        if (now >= deadline) {
            // Nothing of this transfer may trickle out later ahead of the next one.
            tcflush(fHandle, TCOFLUSH);
            return false;
        }
        // About the time the line needs for what is left: waking much earlier only spins, and
        // the box's pause starts no later than a byte's time after the last byte left.
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
        const long long us = std::max(100LL, std::min<long long>(lineTimeUs(lineRequest(), pending), left));
        const timespec pause{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
        nanosleep(&pause, nullptr);
    }
}

void TCustomComm::Close()
{
    if (fHandle < 0)
        return;
    // From here on no handler runs for this port; the thread ends on its own, at once.
    // Its duplicate of the device is waited for (briefly): until it is closed the device
    // is not, and a port opened again at once would find the line never let go (a
    // stalled adapter is reset, a unit sees the port closed, only on the last close).
    std::shared_ptr<TCommEventThread> thread = std::move(fEventThread);
    if (thread)
        thread->Stop();
    // What Write accepted still goes out (the box needs the last clock byte), but a line that
    // does not move (handshake held, device gone) cannot keep the program waiting.
    drainOutput(Clock::now() + std::chrono::milliseconds(fWriteTimeout > 0 ? fWriteTimeout : 0));
    // Unread input is dropped on the descriptor that was monitored, before it is released.
    tcflush(fHandle, TCIFLUSH);
    CloseDevice();
    if (thread)
        (void)thread->waitFinished(CloseWaitMs);
}

void TCustomComm::setDeviceName(const QString& value)
{
    setOpenSetting(fDeviceName, value);
}

void TCustomComm::setReadBufSize(int value)
{
    setOpenSetting(fReadBufSize, value);
}

void TCustomComm::setWriteBufSize(int value)
{
    setOpenSetting(fWriteBufSize, value);
}

void TCustomComm::setMonitorEvents(TCommEventTypes value)
{
    setOpenSetting(fMonitorEvents, value);
}

void TCustomComm::setBaudRate(TBaudrate value)
{
    setLineSetting(fBaudRate, value);
}

void TCustomComm::setParity(TParity value)
{
    setLineSetting(fParity, value);
}

void TCustomComm::setStopbits(TStopbits value)
{
    setLineSetting(fStopbits, value);
}

void TCustomComm::setDatabits(TDatabits value)
{
    setLineSetting(fDatabits, value);
}

void TCustomComm::setOptions(TCommOptions value)
{
    setLineSetting(fOptions, value);
}

void TCustomComm::setFlowControl(TFlowControl value)
{
    setLineSetting(fFlowControl, value);
}

void TCustomComm::UpdateCommTimeouts()
{
    if (fHandle < 0)
        return;
    // A read returns at once with what is queued (the descriptor is non-blocking; VMIN 1 makes
    // a read of 0 mean a hung-up line). Writes have no driver time-out: Write bounds its own wait.
    if (const int e = applyImmediateReads(fHandle))
        RaiseCommError(QString::fromLatin1(msgTimeouts), e);
}

LineRequest TCustomComm::lineRequest() const
{
    LineRequest line;
    line.baudRate = fBaudRate;
    line.databits = fDatabits;
    line.parity = fParity;
    line.stopbits = fStopbits;
    line.flowControl = fFlowControl;
    line.options = fOptions;
    line.xonChar = fEventChars.XonChar();
    line.xoffChar = fEventChars.XoffChar();
    line.errorChar = fEventChars.ErrorChar();
    line.eofChar = fEventChars.EofChar();
    line.evtChar = fEventChars.EvtChar();
    line.readBufSize = fReadBufSize;
    return line;
}

void TCustomComm::UpdateDataControlBlock()
{
    if (fHandle < 0)
        return;
    const QString msg = QString::fromLatin1(msgDCB);
    // A software handshake on the line is ours to keep only when this port set it since Open.
    if (const int e = applyLineSettings(fHandle, lineRequest(), fDCB.fOutX, fDCB))
        RaiseCommError(msg, e);

    // With no handshake both modem lines are under the program's control and start low; the
    // kernel raised them at open.
    if (fFlowControl == fcNone) {
        int lines = TIOCM_DTR | TIOCM_RTS;
        if (ioctl(fHandle, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
            RaiseCommError(msg, errno);
    }
}

int TCustomComm::Write(const void* buffer, int count)
{
    std::lock_guard<std::recursive_mutex> guard(fLock);
    const QString msg = QString::fromLatin1(msgWrite);
    if (fHandle < 0)
        RaiseCommError(msg, EBADF);
    if (count < 0 || (count > 0 && !buffer))
        RaiseCommError(msg, EINVAL);
    const int call = fWriteCalls++;
    if (fWriteFault && fWriteFault(call, count))
        return -1;
    if (count == 0)
        return 0;

    // One bound for the whole: handing the bytes to the driver and their leaving for the line.
    const auto deadline = Clock::now() + std::chrono::milliseconds(fWriteTimeout > 0 ? fWriteTimeout : 0);
    const char* bytes = static_cast<const char*>(buffer);
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(fHandle, bytes + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            RaiseCommError(msg, errno);
        const int left = msLeft(deadline);
        if (left == 0) {
            // Nothing of this transfer may trickle out later ahead of the next one.
            tcflush(fHandle, TCOFLUSH);
            return -1;
        }
        pollfd p{fHandle, POLLOUT, 0};
        if (::poll(&p, 1, left) < 0 && errno != EINTR)
            RaiseCommError(msg, errno);
    }
    if (fEventThread)
        fEventThread->armTxEmpty();
    // The box times its pauses from the end of each piece: the caller's next wait must not
    // start while the bytes are still queued.
    if (!drainOutput(deadline))
        return -1;
    return done;
}

int TCustomComm::Read(void* buffer, int count)
{
    std::lock_guard<std::recursive_mutex> guard(fLock);
    const QString msg = QString::fromLatin1(msgRead);
    if (fHandle < 0)
        RaiseCommError(msg, EBADF);
    if (count < 0 || (count > 0 && !buffer))
        RaiseCommError(msg, EINVAL);
    if (count == 0)
        return 0;
    for (;;) {
        const ssize_t n = ::read(fHandle, buffer, static_cast<size_t>(count));
        if (n > 0)
            return static_cast<int>(n);
        if (n == 0)
            RaiseCommError(msg, EIO); // the line was hung up
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return 0;
        RaiseCommError(msg, errno);
    }
}

void TCustomComm::SetDTR(bool value)
{
    Escape(value ? SETDTR : CLRDTR);
}

void TCustomComm::SetRTS(bool value)
{
    Escape(value ? SETRTS : CLRRTS);
}

void TCustomComm::Escape(int code)
{
    if (fHandle < 0)
        RaiseCommError(QString::fromLatin1(msgNotOpen), -1);
    int result = 0;
    bool modemLine = false;
    int bits = 0;
    switch (code) {
    case SETRTS: bits = TIOCM_RTS; modemLine = true; result = ioctl(fHandle, TIOCMBIS, &bits); break;
    case CLRRTS: bits = TIOCM_RTS; modemLine = true; result = ioctl(fHandle, TIOCMBIC, &bits); break;
    case SETDTR: bits = TIOCM_DTR; modemLine = true; result = ioctl(fHandle, TIOCMBIS, &bits); break;
    case CLRDTR: bits = TIOCM_DTR; modemLine = true; result = ioctl(fHandle, TIOCMBIC, &bits); break;
    case SETBREAK: result = ioctl(fHandle, TIOCSBRK); break;
    case CLRBREAK: result = ioctl(fHandle, TIOCCBRK); break;
    case SETXOFF: result = tcflow(fHandle, TCOOFF); break;
    case SETXON: result = tcflow(fHandle, TCOON); break;
    default: RaiseCommError(QString::fromLatin1(msgEscape), EINVAL);
    }
    if (result != 0) {
        // A device without modem lines (a pseudo-terminal) has nothing to raise or lower.
        if (modemLine && (errno == ENOTTY || errno == EINVAL))
            return;
        RaiseCommError(QString::fromLatin1(msgEscape), errno);
    }
}

void TCustomComm::HandleEvents(TCommEventThread& sender, std::uint32_t mask)
{
    // Handlers may close (and even reopen) the port: each one runs only while this event still
    // belongs to the open port.
    auto current = [this, &sender] { return fHandle >= 0 && fEventThread.get() == &sender; };
    if (!current())
        return;

    // One status query for all handlers of this event.
    const int errors = static_cast<int>(sender.takeErrors());
    int count = 0;
    if (ioctl(fHandle, FIONREAD, &count) != 0 || count < 0)
        count = 0;
    // A line that hung up has nothing queued, yet the receive handler must hear of it, once:
    // its read is where the failure shows ("Read error"), so an unplugged adapter or a box
    // that dropped the line is reported instead of leaving the exchange waiting for ever.
    if (count == 0 && (mask & EV_RXCHAR) && sender.hungUp())
        count = 1;

    // Copies: a handler may reassign itself while it runs.
    auto call = [&](std::uint32_t bit, const std::function<void(TCustomComm&)>& handler) {
        if ((mask & bit) && handler && current()) {
            auto h = handler;
            h(*this);
        }
    };
    call(EV_BREAK, OnBreak);
    call(EV_CTS, OnCts);
    call(EV_DSR, OnDsr);
    if ((mask & EV_ERR) && OnError && current()) {
        auto h = OnError;
        h(*this, errors);
    }
    call(EV_RING, OnRing);
    call(EV_RLSD, OnRlsd);
    if ((mask & EV_RXCHAR) && count > 0 && OnRxChar && current()) {
        auto h = OnRxChar;
        h(*this, count);
    }
    call(EV_RXFLAG, OnRxFlag);
    call(EV_TXEMPTY, OnTxEmpty);
}
