#include "serial/CommEventThread.h"

#include "serial/CommInt.h"

#include <QMetaObject>

#include <cerrno>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t lineEvents = EV_BREAK | EV_CTS | EV_DSR | EV_ERR | EV_RING | EV_RLSD;
// Modem lines and line errors have no readiness notification on a terminal: they are sampled.
constexpr int lineSampleMs = 20;
// The output queue has none either; it is sampled only between a write and its draining.
constexpr int txSampleMs = 10;

std::atomic<TCommEventThread::WaitFunction> waitForTesting{nullptr};

// Keys of the two descriptors in the epoll set.
constexpr std::uint64_t wakeKey = 1;
constexpr std::uint64_t deviceKey = 2;

enum class LineSource { None, Counters, ModemBits };

struct LineSampler
{
    LineSource source = LineSource::None;
    serial_icounter_struct counters{};
    int modemBits = 0;

    void start(int fd)
    {
        if (ioctl(fd, TIOCGICOUNT, &counters) == 0)
            source = LineSource::Counters;
        else if (ioctl(fd, TIOCMGET, &modemBits) == 0)
            source = LineSource::ModemBits;
        else
            source = LineSource::None;
    }

    // Returns the EV_* bits of what changed since the last sample; line errors go to `errors`.
    std::uint32_t sample(int fd, std::uint32_t& errors)
    {
        std::uint32_t events = 0;
        if (source == LineSource::Counters) {
            serial_icounter_struct now{};
            if (ioctl(fd, TIOCGICOUNT, &now) != 0) {
                source = LineSource::None;
                return 0;
            }
            if (now.cts != counters.cts)
                events |= EV_CTS;
            if (now.dsr != counters.dsr)
                events |= EV_DSR;
            if (now.dcd != counters.dcd)
                events |= EV_RLSD;
            if (now.rng != counters.rng)
                events |= EV_RING;
            if (now.brk != counters.brk) {
                events |= EV_BREAK;
                errors |= CE_BREAK;
            }
            std::uint32_t lineErrors = 0;
            if (now.frame != counters.frame)
                lineErrors |= CE_FRAME;
            if (now.parity != counters.parity)
                lineErrors |= CE_RXPARITY;
            if (now.overrun != counters.overrun)
                lineErrors |= CE_OVERRUN;
            if (now.buf_overrun != counters.buf_overrun)
                lineErrors |= CE_RXOVER;
            if (lineErrors)
                events |= EV_ERR;
            errors |= lineErrors;
            counters = now;
        } else if (source == LineSource::ModemBits) {
            int now = 0;
            if (ioctl(fd, TIOCMGET, &now) != 0) {
                source = LineSource::None;
                return 0;
            }
            const int changed = now ^ modemBits;
            if (changed & TIOCM_CTS)
                events |= EV_CTS;
            if (changed & TIOCM_DSR)
                events |= EV_DSR;
            if (changed & TIOCM_CD)
                events |= EV_RLSD;
            if (changed & TIOCM_RI)
                events |= EV_RING;
            modemBits = now;
        }
        return events;
    }
};

} // namespace

std::shared_ptr<TCommEventThread> TCommEventThread::create(int device, std::uint32_t mask, QObject* target)
{
    auto thread = std::make_shared<TCommEventThread>(Private{}, mask, target);
    if (!thread->setUp(device))
        return nullptr;
    try {
        std::thread([thread] { thread->run(); }).detach();
    } catch (const std::system_error& e) {
        errno = e.code().value();
        return nullptr;
    }
    return thread;
}

TCommEventThread::TCommEventThread(Private, std::uint32_t mask, QObject* target)
    : fMask(mask), fWait(waitForTesting.load() ? waitForTesting.load() : &epoll_wait), fTarget(target)
{
}

void TCommEventThread::setWaitForTesting(WaitFunction wait)
{
    waitForTesting = wait;
}

TCommEventThread::~TCommEventThread()
{
    // Normally closed by the thread body; these are the set-up failure paths.
    if (fDevice >= 0)
        ::close(fDevice);
    if (fPollFd >= 0)
        ::close(fPollFd);
    // Kept until now because Stop may write to it at any time before the last owner lets go.
    if (fWakeFd >= 0)
        ::close(fWakeFd);
}

bool TCommEventThread::setUp(int device)
{
    // Our own descriptor: a late poll can never reach a device opened since under the same
    // number.
    fDevice = fcntl(device, F_DUPFD_CLOEXEC, 0);
    if (fDevice < 0)
        return false;
    fWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fWakeFd < 0)
        return false;
    fPollFd = epoll_create1(EPOLL_CLOEXEC);
    if (fPollFd < 0)
        return false;
    epoll_event wakeEvent{};
    wakeEvent.events = EPOLLIN;
    wakeEvent.data.u64 = wakeKey;
    if (epoll_ctl(fPollFd, EPOLL_CTL_ADD, fWakeFd, &wakeEvent) != 0)
        return false;
    // Edge-triggered: one report per arrival of bytes, so bytes a handler leaves unread do not
    // wake the thread again, while bytes arriving during a hand-over are reported at the next
    // wait. A hang-up is reported the same way.
    epoll_event deviceEvent{};
    deviceEvent.events = EPOLLIN | EPOLLET;
    deviceEvent.data.u64 = deviceKey;
    return epoll_ctl(fPollFd, EPOLL_CTL_ADD, fDevice, &deviceEvent) == 0;
}

void TCommEventThread::wake()
{
    const std::uint64_t one = 1;
    // The counter cannot overflow in practice; a full counter means a wake-up is pending anyway.
    [[maybe_unused]] ssize_t n = ::write(fWakeFd, &one, sizeof one);
}

void TCommEventThread::Stop()
{
    {
        std::lock_guard<std::mutex> lock(fMutex);
        fTerminated = true;
    }
    fDone.notify_all();
    wake();
}

void TCommEventThread::armTxEmpty()
{
    if (!(fMask & EV_TXEMPTY) || fTerminated)
        return;
    fTxArmed = true;
    wake();
}

void TCommEventThread::run()
{
    bool deviceWatched = true;
    int failures = 0;
    LineSampler lines;
    if (fMask & lineEvents)
        lines.start(fDevice);

    while (!fTerminated) {
        int timeout = -1;
        if (fTxArmed)
            timeout = txSampleMs;
        else if (lines.source != LineSource::None)
            timeout = lineSampleMs;

        epoll_event events[2];
        const int n = fWait(fPollFd, events, 2, timeout);
        if (n < 0) {
            const int error = errno;
            if (error == EINTR)
                continue;
            // A passing shortage is waited out; a wait that keeps failing would leave the port
            // open but deaf, so the operator hears of it once and the port is closed.
            if (++failures < WaitFailuresInARow) {
                std::this_thread::sleep_for(std::chrono::milliseconds(WaitRetryPauseMs));
                continue;
            }
            handOver(0, error);
            break;
        }
        failures = 0;
        if (fTerminated)
            break;

        std::uint32_t mask = takeReady(events, n, deviceWatched);
        if (!deviceWatched)
            lines.source = LineSource::None;

        if (fTxArmed) {
            int queued = 0;
            if (ioctl(fDevice, TIOCOUTQ, &queued) != 0 || queued <= 0) {
                fTxArmed = false;
                mask |= EV_TXEMPTY;
            }
        }
        if (lines.source != LineSource::None) {
            std::uint32_t errors = 0;
            mask |= lines.sample(fDevice, errors);
            if (errors)
                fErrors |= errors;
        }

        mask &= fMask;
        if (mask)
            handOver(mask);
    }

    releaseDescriptors();
}

std::uint32_t TCommEventThread::takeReady(const epoll_event* events, int count, bool& deviceWatched)
{
    std::uint32_t mask = 0;
    for (int i = 0; i < count; ++i) {
        if (events[i].data.u64 == wakeKey) {
            std::uint64_t wakes;
            [[maybe_unused]] ssize_t r = ::read(fWakeFd, &wakes, sizeof wakes);
        } else if (events[i].data.u64 == deviceKey && deviceWatched) {
            if (events[i].events & (EPOLLHUP | EPOLLERR)) {
                // A hung-up or vanished device stays "ready" for good: report it once,
                // then stop watching it until the port is closed.
                epoll_ctl(fPollFd, EPOLL_CTL_DEL, fDevice, nullptr);
                deviceWatched = false;
                fHungUp = true;
                fTxArmed = false;
            }
            mask |= EV_RXCHAR;
        }
    }
    return mask;
}

void TCommEventThread::releaseDescriptors()
{
    ::close(fDevice);
    fDevice = -1;
    ::close(fPollFd);
    fPollFd = -1;
    {
        std::lock_guard<std::mutex> lock(fMutex);
        fFinished = true;
    }
    fDone.notify_all();
}

bool TCommEventThread::waitFinished(int ms)
{
    std::unique_lock<std::mutex> lock(fMutex);
    return fDone.wait_for(lock, std::chrono::milliseconds(ms), [this] { return fFinished.load(); });
}

void TCommEventThread::handOver(std::uint32_t mask, int waitError)
{
    std::unique_lock<std::mutex> lock(fMutex);
    if (fTerminated)
        return;
    fHandOverDone = false;
    ++fHandOvers;
    // Posted under the lock: once Stop has returned nothing new is posted, so the port may go
    // away right after it (Qt drops calls queued for a deleted object).
    auto self = shared_from_this();
    QMetaObject::invokeMethod(
        fTarget, [self, mask, waitError] { self->deliver(mask, waitError); }, Qt::QueuedConnection);
    fDone.wait(lock, [this] { return fHandOverDone || fTerminated; });
}

void TCommEventThread::deliver(std::uint32_t mask, int waitError)
{
    // Releases the waiting thread when the handlers have returned, also by an exception, which
    // goes on to the application's error hook.
    struct Release
    {
        TCommEventThread& thread;
        ~Release()
        {
            {
                std::lock_guard<std::mutex> lock(thread.fMutex);
                thread.fHandOverDone = true;
                ++thread.fHandOversDone;
            }
            thread.fDone.notify_all();
        }
    } release{*this};

    if (fTerminated)
        return;
    if (waitError != 0) {
        if (OnWaitFailed)
            OnWaitFailed(*this, waitError);
        return;
    }
    if (OnSignal)
        OnSignal(*this, mask);
}
