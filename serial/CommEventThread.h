#pragma once

// The monitoring thread of an open port. It waits for line events on its own duplicate of the
// device and hands each one to the user-interface thread, blocking until the handler there has
// returned or the port has told it to stop. No data passes through it: bytes stay queued in the
// driver until a handler reads them.

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

struct epoll_event;

class TCommEventThread : public std::enable_shared_from_this<TCommEventThread>
{
    struct Private
    {
    };

public:
    // Starts monitoring a duplicate of `device` for the events in `mask` (EV_* bits); hand-overs
    // run on the thread of `target`. Returns null with errno set when the thread cannot be set
    // up. The thread keeps itself alive until it ends; holding the pointer is optional.
    static std::shared_ptr<TCommEventThread> create(int device, std::uint32_t mask, QObject* target);

    TCommEventThread(Private, std::uint32_t mask, QObject* target);
    ~TCommEventThread();
    TCommEventThread(const TCommEventThread&) = delete;
    TCommEventThread& operator=(const TCommEventThread&) = delete;

    // Where each event is handed (user-interface thread only). Unbound: the event is dropped.
    std::function<void(TCommEventThread& sender, std::uint32_t mask)> OnSignal;
    // Where the thread says, once, that its wait for line events kept failing (errno of the last
    // failure); the thread then ends and the port hears nothing more (user-interface thread).
    std::function<void(TCommEventThread& sender, int error)> OnWaitFailed;

    // A failed wait is tried again after a short pause; this many failures in a row end it.
    static constexpr int WaitFailuresInARow = 10;
    static constexpr int WaitRetryPauseMs = 10;
    // Test seam: the wait of the threads started from now on (epoll_wait's arguments and result);
    // null for epoll_wait itself.
    using WaitFunction = int (*)(int pollFd, epoll_event* events, int maxEvents, int timeoutMs);
    static void setWaitForTesting(WaitFunction wait);

    // Wakes the thread and marks it terminated; returns at once. A hand-over that has not run
    // yet will do nothing, and a thread blocked in a hand-over is released.
    void Stop();
    bool Terminated() const { return fTerminated.load(); }
    // The EV_* bits the thread watches.
    std::uint32_t EventMask() const { return fMask; }

    // Called after a write: report evTxEmpty once the output queue has drained.
    void armTxEmpty();
    // True once the device hung up or vanished (reported once, then no longer watched).
    bool hungUp() const { return fHungUp.load(); }
    // Line error bits (CE_*) seen since the last call; clears them.
    std::uint32_t takeErrors() { return fErrors.exchange(0); }

    // How many events were handed over so far (for checks that the thread does not spin).
    std::uint64_t handOvers() const { return fHandOvers.load(); }
    // How many hand-overs have run (or been dropped) on the user-interface thread.
    std::uint64_t handOversDone() const { return fHandOversDone.load(); }
    // True once the thread body has ended and released its descriptors.
    bool finished() const { return fFinished.load(); }
    // Waits at most `ms` for the thread to end after Stop; true once it has let go of its
    // descriptor of the device.
    bool waitFinished(int ms);

private:
    bool setUp(int device);
    void run();
    // The events of one wait's ready list: EV_RXCHAR for the device (and, once it hung up,
    // the device is no longer watched), nothing for a wake-up, whose count it consumes.
    std::uint32_t takeReady(const epoll_event* events, int count, bool& deviceWatched);
    // Closes the thread's duplicate of the device and its poll set, then tells waitFinished.
    void releaseDescriptors();
    void handOver(std::uint32_t mask, int waitError = 0);
    void deliver(std::uint32_t mask, int waitError);
    void wake();

    const std::uint32_t fMask;
    const WaitFunction fWait;
    QObject* const fTarget; // the port; it stops the thread before it goes away
    int fDevice = -1;
    int fWakeFd = -1;
    int fPollFd = -1;

    std::atomic<bool> fTerminated{false};
    std::atomic<bool> fTxArmed{false};
    std::atomic<bool> fHungUp{false};
    std::atomic<std::uint32_t> fErrors{0};
    std::atomic<std::uint64_t> fHandOvers{0};
    std::atomic<std::uint64_t> fHandOversDone{0};
    std::atomic<bool> fFinished{false};

    std::mutex fMutex;
    std::condition_variable fDone;
    bool fHandOverDone = true;
};
