// A serial error escaping a receive handler must reach the program's error reporter exactly
// once, with the port already closed, and never unwind through the toolkit's event delivery.

#include "serial/CommEventThread.h"
#include "serial/CommInt.h"
#include "serial/HandlerGuard.h"
#include "PtyPair.h"
#include "tests/common/PrivateFolders.h"

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include <sys/epoll.h>

namespace {

constexpr int waitMs = 20000;

// Stands in for the program's application object: its reporter shows serial errors and drops
// the rest; anything that still reaches notify() went through the toolkit's frames.
class HookApplication : public QApplication
{
public:
    HookApplication(int& argc, char** argv)
        : QApplication(argc, argv)
    {
        setEscapedReporter([this](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const ECommError& e) {
                messages << QStringLiteral("Serial error: ") + e.Message();
                if (onError)
                    onError();
            } catch (...) {
                ++otherErrors;
            }
        });
    }
    ~HookApplication() override { setEscapedReporter(nullptr); }

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            ++throughToolkit;
        }
        return false;
    }

    QStringList messages;
    int otherErrors = 0;
    int throughToolkit = 0;
    std::function<void()> onError;
};

HookApplication* hookApp()
{
    return static_cast<HookApplication*>(QCoreApplication::instance());
}

class HandlerError : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        hookApp()->messages.clear();
        hookApp()->otherErrors = 0;
        hookApp()->throughToolkit = 0;
        hookApp()->onError = nullptr;
        port.setMonitorEvents({evRxChar, evTxEmpty});
        port.setFlowControl(fcNone);
        port.setDeviceName(pty.path);
    }
    void TearDown() override
    {
        hookApp()->onError = nullptr;
        EXPECT_EQ(hookApp()->throughToolkit, 0);
    }
    PtyPair pty;
    TComm port;
};

} // namespace

TEST_F(HandlerError, ReachesTheHookOnceWithThePortClosed)
{
    int calls = 0;
    bool openInHook = true;
    hookApp()->onError = [&] { openInHook = port.Enabled(); };
    port.OnRxChar = [&](TCustomComm&, int) {
        ++calls;
        TCustomComm::RaiseCommError(QStringLiteral("Read error"), EIO);
    };
    port.Open();
    auto thread = port.EventThread();
    ASSERT_TRUE(pty.send("frame"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !hookApp()->messages.isEmpty(); }, waitMs));
    EXPECT_FALSE(openInHook);
    EXPECT_FALSE(port.Enabled());
    // The monitor is not left blocked in its hand-over.
    ASSERT_TRUE(QTest::qWaitFor([&] { return thread->finished(); }, waitMs));

    // A device that keeps sending gives no further message.
    ASSERT_TRUE(pty.send("more"));
    QTest::qWait(200);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(hookApp()->messages, QStringList{QStringLiteral("Serial error: Read error (Error: 5) ")});

    // The operator can try again.
    port.OnRxChar = [&](TCustomComm&, int) { ++calls; };
    port.Open();
    ASSERT_TRUE(pty.send("x"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 2; }, waitMs));
}

TEST_F(HandlerError, MessageBoxLoopCannotReenterTheHandler)
{
    int calls = 0;
    int depth = 0;
    int maxDepth = 0;
    port.OnRxChar = [&](TCustomComm& sender, int count) {
        ++calls;
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        char buf[64];
        sender.Read(buf, std::min(count, int(sizeof buf)));
        --depth;
        TCustomComm::RaiseCommError(QStringLiteral("Read error"), EIO);
    };
    // The hook's message box runs its own event loop while the line keeps talking.
    hookApp()->onError = [&] {
        ASSERT_TRUE(pty.send("noise"));
        QEventLoop box;
        QTimer::singleShot(300, &box, &QEventLoop::quit);
        box.exec();
    };
    port.Open();
    ASSERT_TRUE(pty.send("frame"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !hookApp()->messages.isEmpty(); }, waitMs));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_EQ(hookApp()->messages.size(), 1);
}

TEST_F(HandlerError, OtherExceptionsAlsoCloseThePort)
{
    port.OnRxChar = [&](TCustomComm&, int) { throw std::runtime_error("bug"); };
    port.Open();
    ASSERT_TRUE(pty.send("x"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return hookApp()->otherErrors == 1; }, waitMs));
    EXPECT_FALSE(port.Enabled());
    EXPECT_TRUE(hookApp()->messages.isEmpty());
}

TEST(Guard, SlotsTakeTheSignalsArgumentsAndReportWhatEscapes)
{
    hookApp()->messages.clear();
    hookApp()->otherErrors = 0;
    hookApp()->throughToolkit = 0;
    QObject sender;
    QString named;
    int bare = 0;
    QObject::connect(&sender, &QObject::objectNameChanged, guarded([&](const QString& name) {
                         named = name;
                         TCustomComm::RaiseCommError(QStringLiteral("Read error"), EIO);
                     }));
    // A handler without arguments on a signal with one, as for any slot.
    QObject::connect(&sender, &QObject::objectNameChanged, guarded([&] {
                         ++bare;
                         throw std::runtime_error("bug");
                     }));
    sender.setObjectName(QStringLiteral("cell"));
    EXPECT_EQ(named, QStringLiteral("cell"));
    EXPECT_EQ(bare, 1);
    EXPECT_EQ(hookApp()->messages, QStringList { QStringLiteral("Serial error: Read error (Error: 5) ") });
    EXPECT_EQ(hookApp()->otherErrors, 1);
    EXPECT_EQ(hookApp()->throughToolkit, 0);
}

namespace {

// A wait for line events that fails `failWaits` times with EBADF, then works.
std::atomic<int> failWaits{0};

int failingWait(int pollFd, epoll_event* events, int maxEvents, int timeoutMs)
{
    if (failWaits.fetch_sub(1) > 0) {
        errno = EBADF;
        return -1;
    }
    return epoll_wait(pollFd, events, maxEvents, timeoutMs);
}

class BrokenWait : public HandlerError
{
protected:
    void SetUp() override
    {
        HandlerError::SetUp();
        TCommEventThread::setWaitForTesting(&failingWait);
    }
    void TearDown() override
    {
        TCommEventThread::setWaitForTesting(nullptr);
        HandlerError::TearDown();
    }
};

} // namespace

TEST_F(BrokenWait, PassingFailuresAreRetried)
{
    failWaits = TCommEventThread::WaitFailuresInARow - 1;
    int calls = 0;
    port.OnRxChar = [&](TCustomComm& sender, int count) {
        ++calls;
        char buf[64];
        sender.Read(buf, std::min(count, int(sizeof buf)));
    };
    port.Open();
    ASSERT_TRUE(pty.send("x"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, waitMs));
    EXPECT_TRUE(port.Enabled());
    EXPECT_TRUE(hookApp()->messages.isEmpty());
    port.Close();
}

TEST_F(BrokenWait, LastingFailureIsToldOnceAndClosesThePort)
{
    failWaits = 1 << 30;
    bool openInHook = true;
    hookApp()->onError = [&] { openInHook = port.Enabled(); };
    port.OnRxChar = [&](TCustomComm&, int) { ADD_FAILURE() << "no event can be seen"; };
    port.Open();
    auto thread = port.EventThread();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !hookApp()->messages.isEmpty(); }, waitMs));
    EXPECT_FALSE(openInHook);
    EXPECT_FALSE(port.Enabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return thread->finished(); }, waitMs));
    QTest::qWait(100);
    EXPECT_EQ(hookApp()->messages,
              QStringList{QStringLiteral("Serial error: Error waiting for port events (Error: 9) ")});

    // Once the wait works again, so does the port.
    failWaits = 0;
    int calls = 0;
    port.OnRxChar = [&](TCustomComm&, int) { ++calls; };
    port.Open();
    ASSERT_TRUE(pty.send("x"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls >= 1; }, waitMs));
    port.Close();
}

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const QTemporaryDir folders;
    if (!testfolders::usePrivateFolders(folders, "serial_hook_tests"))
        return 1;
    HookApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
