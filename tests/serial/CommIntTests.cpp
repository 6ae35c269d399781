#include "serial/CommEventThread.h"
#include "serial/CommInt.h"
#include "PortFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <utility>
#include <sys/ioctl.h>

using porttest::configureLikeProgram;
using porttest::Port;
using porttest::waitMs;

namespace {

int queuedAt(const TComm& port)
{
    int n = 0;
    return ioctl(port.Handle(), FIONREAD, &n) == 0 ? n : -1;
}

} // namespace

TEST(CommError, MessageCarriesCodeInFixedFormat)
{
    const ECommError e(QStringLiteral("Write error"), 5);
    EXPECT_EQ(e.Message(), QStringLiteral("Write error (Error: 5) "));
    EXPECT_STREQ(e.what(), "Write error (Error: 5) ");
    EXPECT_EQ(e.ErrorCode(), 5);
    EXPECT_EQ(ECommError(QStringLiteral("Port already assigned (open)"), -1).Message(),
              QStringLiteral("Port already assigned (open) (Error: -1) "));
}

TEST(PortNames, ComNamesLinksPathsAndDevNames)
{
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));

    EXPECT_EQ(resolvePortName(QStringLiteral("Com1")), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(resolvePortName(QStringLiteral("cOM12")), QStringLiteral("/dev/ttyS11"));
    // Not a port number: looked up in /dev like any other name.
    EXPECT_EQ(resolvePortName(QStringLiteral("Com0")), QStringLiteral("/dev/Com0"));
    EXPECT_EQ(resolvePortName(QStringLiteral("ttyUSB0")), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(resolvePortName(QStringLiteral(" Com2 ")), QStringLiteral("/dev/ttyS1"));
    EXPECT_EQ(resolvePortName(QStringLiteral("/tmp/x/ttyX")), QStringLiteral("/tmp/x/ttyX"));
    EXPECT_EQ(resolvePortName(QString()), QString());

    // A link made by the box simulator wins, even when its target is gone.
    const QString folder = config.path() + QStringLiteral("/pradix/ports");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent/pts/99"), folder + QStringLiteral("/com2")));
    EXPECT_EQ(portLinkFolder(), folder);
    EXPECT_EQ(resolvePortName(QStringLiteral("COM2")), folder + QStringLiteral("/com2"));
    EXPECT_EQ(resolvePortName(QStringLiteral("Com3")), QStringLiteral("/dev/ttyS2"));

    // A relative XDG_CONFIG_HOME is ignored.
    qputenv("XDG_CONFIG_HOME", "relative/dir");
    EXPECT_EQ(portLinkFolder(), QDir::homePath() + QStringLiteral("/.config/pradix/ports"));

    if (saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", saved);
}

TEST(PortSettings, ConstructorValues)
{
    TComm port;
    EXPECT_FALSE(port.Enabled());
    EXPECT_EQ(port.DeviceName(), QStringLiteral("Com2"));
    EXPECT_EQ(port.ReadTimeout(), 1000);
    EXPECT_EQ(port.WriteTimeout(), 1000);
    EXPECT_EQ(port.ReadBufSize(), 4096);
    EXPECT_EQ(port.WriteBufSize(), 2048);
    EXPECT_EQ(port.MonitorEvents(), TCommEventTypes::all());
    EXPECT_EQ(eventMaskOf(port.MonitorEvents()), 0x1FFu);
    EXPECT_EQ(eventMaskOf({evRxChar, evTxEmpty}), 0x05u);
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.FlowControl(), fcDefault);
    EXPECT_TRUE(port.Options().empty());
    EXPECT_EQ(port.EventChars().XonChar(), 17);
    EXPECT_EQ(port.EventChars().XoffChar(), 19);

    TCommEventChars other;
    other.setEvtChar('\x7e');
    port.EventChars() = other;
    EXPECT_EQ(port.EventChars().EvtChar(), '\x7e');
    EXPECT_THROW(port.EventChars().Assign(nullptr), std::invalid_argument);
}

TEST(PortSettings, ClosedPortRefusesTransfersAndLineControl)
{
    TComm port;
    char buf[4];
    EXPECT_COMM_ERROR(port.Read(buf, 4), "Read error", EBADF);
    EXPECT_COMM_ERROR(port.Write("ab", 2), "Write error", EBADF);
    EXPECT_COMM_ERROR(port.SetDTR(true), "Port not open, unable to complete operation", -1);
    EXPECT_COMM_ERROR(port.SetRTS(false), "Port not open, unable to complete operation", -1);
    // Closing a closed port, twice, is harmless; line settings are only stored.
    port.Close();
    port.Close();
    port.setBaudRate(br115200);
    port.setDatabits(da4);
    EXPECT_EQ(port.BaudRate(), br115200);
}

TEST(PortOpen, FailuresLeaveThePortClosed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TComm port;

    port.setDeviceName(dir.path() + QStringLiteral("/absent"));
    EXPECT_COMM_ERROR(port.Open(), "Error accessing specified device", ENOENT);
    EXPECT_FALSE(port.Enabled());

    QFile file(dir.path() + QStringLiteral("/plain"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    port.setDeviceName(file.fileName());
    EXPECT_COMM_ERROR(port.Open(), "Invalid device handle, access denied", -1);
    EXPECT_FALSE(port.Enabled());

    // A character device that is no terminal is no serial port either, and is not even opened.
    port.setDeviceName(QStringLiteral("/dev/null"));
    EXPECT_COMM_ERROR(port.Open(), "Invalid device handle, access denied", -1);
    EXPECT_FALSE(port.Enabled());
    port.setDeviceName(dir.path());
    EXPECT_COMM_ERROR(port.Open(), "Invalid device handle, access denied", -1);
}

TEST_F(Port, DeviceHeldByAnotherPortIsBusyUntilReleased)
{
    port.Open();
    TComm second;
    configureLikeProgram(second, pty.path);
    // The exclusive terminal turns away an ordinary user at open (EBUSY); root gets past that
    // and is stopped by the lock (EWOULDBLOCK).
    const int busy = geteuid() == 0 ? EWOULDBLOCK : EBUSY;
    EXPECT_COMM_ERROR(second.Open(), "Error accessing specified device", busy);
    EXPECT_FALSE(second.Enabled());
    // The failed attempt must not have loosened the first port's hold.
    EXPECT_COMM_ERROR(second.Open(), "Error accessing specified device", busy);
    ASSERT_TRUE(pty.send("k"));
    char c = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.Read(&c, 1) == 1; }, waitMs));
    EXPECT_EQ(c, 'k');

    port.Close();
    second.Open();
    EXPECT_TRUE(second.Enabled());
}

TEST_F(Port, OpenOnlyRulesWhileOpen)
{
    port.Open();
    EXPECT_COMM_ERROR(port.Open(), "Port already assigned (open)", -1);
    port.setDeviceName(pty.path); // the same name is accepted
    EXPECT_COMM_ERROR(port.setDeviceName(QStringLiteral("Com1")), "Port already assigned (open)", -1);
    EXPECT_COMM_ERROR(port.setReadBufSize(1024), "Port already assigned (open)", -1);
    EXPECT_COMM_ERROR(port.setWriteBufSize(1024), "Port already assigned (open)", -1);
    EXPECT_COMM_ERROR(port.setMonitorEvents({evRxChar}), "Port already assigned (open)", -1);
    EXPECT_EQ(port.DeviceName(), pty.path);
    EXPECT_EQ(port.ReadBufSize(), 4096);
    EXPECT_EQ(port.MonitorEvents(), (TCommEventTypes{evRxChar, evTxEmpty}));

    port.Close();
    port.setMonitorEvents({evRxChar});
    port.setReadBufSize(2048);
    EXPECT_EQ(port.ReadBufSize(), 2048);
    port.Open();
    EXPECT_EQ(port.DataControlBlock().XonLim, 512);
    EXPECT_EQ(port.DataControlBlock().XoffLim, 512);
}

TEST_F(Port, ReadTakesOnlyWhatIsQueuedAndAtMostCount)
{
    port.Open();
    char buf[16];
    EXPECT_EQ(port.Read(buf, int(sizeof buf)), 0);
    EXPECT_EQ(port.Read(buf, 0), 0);
    EXPECT_COMM_ERROR(port.Read(buf, -1), "Read error", EINVAL);

    ASSERT_TRUE(pty.send("0123456789"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return queuedAt(port) == 10; }, waitMs));
    EXPECT_EQ(port.Read(buf, 4), 4);
    EXPECT_EQ(QByteArray(buf, 4), QByteArray("0123"));
    EXPECT_EQ(port.Read(buf, int(sizeof buf)), 6);
    EXPECT_EQ(QByteArray(buf, 6), QByteArray("456789"));
}

TEST_F(Port, WriteThatCannotDrainTimesOutAndLeavesNothingBehind)
{
    port.setWriteTimeout(200);
    port.Open();
    // The far end reads nothing: the line fills up.
    const QByteArray big(1 << 20, char(0xAA));
    EXPECT_EQ(port.Write(big.constData(), int(big.size())), -1);
    EXPECT_TRUE(port.Enabled());

    // The unsent rest is discarded: after what the far end had already taken in (at most its
    // 4096-byte input buffer) comes the next transfer.
    EXPECT_EQ(port.Write("XYZ", 3), 3);
    QByteArray got;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        got += pty.pending();
        return got.endsWith("XYZ");
    }, waitMs));
    const QByteArray before = got.left(got.size() - 3);
    EXPECT_LE(before.size(), 4096);
    EXPECT_EQ(before, QByteArray(before.size(), char(0xAA)));
    EXPECT_COMM_ERROR(port.Write(nullptr, 3), "Write error", EINVAL);
}

TEST_F(Port, OpenRightAfterCloseStartsAFreshMonitor)
{
    int calls = 0;
    port.OnRxChar = [&](TCustomComm& sender, int count) {
        char buf[64];
        calls += sender.Read(buf, std::min(count, int(sizeof buf))) > 0;
    };
    std::shared_ptr<TCommEventThread> previous;
    for (int round = 1; round <= 3; ++round) {
        port.Open();
        auto thread = port.EventThread();
        ASSERT_TRUE(thread);
        EXPECT_NE(thread, previous);
        ASSERT_TRUE(pty.send("a"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return calls == round; }, waitMs));
        port.Close();
        port.Close();
        EXPECT_FALSE(port.Enabled());
        EXPECT_FALSE(port.EventThread());
        ASSERT_TRUE(QTest::qWaitFor([&] { return thread->finished(); }, waitMs));
        previous = thread;
    }
}

TEST_F(Port, BurstsWaitingForTheHandOverMakeOneRxChar)
{
    QList<int> counts;
    port.OnRxChar = [&](TCustomComm& sender, int count) {
        counts << count;
        char buf[256];
        sender.Read(buf, std::min(count, int(sizeof buf)));
    };
    port.Open();
    auto thread = port.EventThread();

    // The user-interface thread does not service its queue while the bursts come in.
    ASSERT_TRUE(pty.send("first"));
    for (int i = 0; i < 2000 && thread->handOvers() == 0; ++i)
        usleep(10000);
    ASSERT_EQ(thread->handOvers(), 1u);
    ASSERT_TRUE(pty.send("second"));
    ASSERT_TRUE(pty.send("third"));
    for (int i = 0; i < 2000 && queuedAt(port) < 16; ++i)
        usleep(10000);
    ASSERT_EQ(queuedAt(port), 16);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !counts.isEmpty(); }, waitMs));
    // The later bursts' bytes were read with the first: nothing more to report until new ones.
    ASSERT_TRUE(pty.send("z"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return counts.size() >= 2; }, waitMs));
    EXPECT_EQ(counts, (QList<int>{16, 1}));
}

TEST_F(Port, UnreadBytesDoNotWakeTheMonitorAgain)
{
    int calls = 0;
    port.OnRxChar = [&](TCustomComm&, int) { ++calls; }; // leaves the bytes queued
    port.Open();
    auto thread = port.EventThread();
    ASSERT_TRUE(pty.send("unread"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls >= 1; }, waitMs));
    QTest::qWait(300); // a spinning monitor would hand over hundreds of times meanwhile
    // The kernel may wake a waiter once more without new bytes (a wake-up racing the wait);
    // that repeats a report, it must not become a stream of them.
    EXPECT_LE(calls, 2);
    EXPECT_LE(thread->handOvers(), 2u);

    // New bytes are reported again, with the whole queue as count.
    int lastCount = 0;
    port.OnRxChar = [&](TCustomComm&, int count) { lastCount = count; };
    ASSERT_TRUE(pty.send("more"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lastCount == 10; }, waitMs)) << lastCount;
}

TEST_F(Port, EndOfTransmissionIsReported)
{
    int empties = 0;
    port.OnTxEmpty = [&](TCustomComm&) { ++empties; };
    port.Open();
    EXPECT_EQ(port.Write("\x02\x01\x01", 3), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return empties == 1; }, waitMs));
    EXPECT_EQ(pty.receive(3), QByteArray("\x02\x01\x01"));
}

TEST_F(Port, CloseInsideRxCharEndsMonitoring)
{
    int calls = 0;
    bool closedByHandler = false;
    port.OnRxChar = [&](TCustomComm& sender, int count) {
        EXPECT_FALSE(closedByHandler) << "receive handler after Close";
        ++calls;
        char buf[64];
        sender.Read(buf, std::min(count, int(sizeof buf)));
        sender.Close();
        closedByHandler = true;
    };
    // The end of the write may be handed over on its own before the reply arrives; that is
    // an event of the open port. Only a call after the receive handler's Close is wrong,
    // also when both events come in the same hand-over.
    port.OnTxEmpty = [&](TCustomComm&) { EXPECT_FALSE(closedByHandler) << "handler after Close"; };
    port.Open();
    auto thread = port.EventThread();
    EXPECT_EQ(port.Write("go", 2), 2);
    ASSERT_TRUE(pty.send("reply"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, waitMs));
    EXPECT_FALSE(port.Enabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return thread->finished(); }, waitMs));
    ASSERT_TRUE(pty.send("late"));
    QTest::qWait(100);
    EXPECT_EQ(calls, 1);

    port.OnTxEmpty = nullptr;
    closedByHandler = false;
    port.Open();
    EXPECT_NE(port.EventThread(), thread);
    ASSERT_TRUE(pty.send("again"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 2; }, waitMs));
}

TEST_F(Port, EventHandedOverBeforeCloseCallsNoHandler)
{
    int calls = 0;
    port.OnRxChar = [&](TCustomComm&, int) { ++calls; };
    port.Open();
    auto thread = port.EventThread();
    ASSERT_TRUE(pty.send("x"));
    // The event is posted to this thread, which does not service its queue yet.
    for (int i = 0; i < 2000 && thread->handOvers() == 0; ++i)
        usleep(10000);
    ASSERT_EQ(thread->handOvers(), 1u);
    port.Close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return thread->handOversDone() == 1; }, waitMs));
    EXPECT_EQ(calls, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return thread->finished(); }, waitMs));
}

TEST_F(Port, HangUpOfTheFarEndIsReportedOnceWithoutSpinning)
{
    int calls = 0;
    port.OnRxChar = [&](TCustomComm&, int) { ++calls; };
    port.Open();
    auto thread = port.EventThread();
    pty.closeMaster();
    ASSERT_TRUE(QTest::qWaitFor([&] { return thread->handOversDone() >= 1; }, waitMs));
    QTest::qWait(300); // a monitor polling the dead line would hand over again and again
    EXPECT_LE(thread->handOvers(), 2u);
    EXPECT_FALSE(thread->finished());

    char buf[8];
    EXPECT_COMM_ERROR(port.Read(buf, 8), "Read error", EIO);
    EXPECT_COMM_ERROR(port.Write("x", 1), "Write error", EIO);
    port.Close();
    EXPECT_FALSE(port.Enabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return thread->finished(); }, waitMs));
}

TEST_F(Port, DestroyingAnOpenPortReleasesItsMonitor)
{
    auto owned = std::make_unique<TComm>();
    configureLikeProgram(*owned, pty.path);
    owned->OnRxChar = [](TCustomComm&, int) { ADD_FAILURE() << "handler of a destroyed port"; };
    owned->Open();
    auto thread = owned->EventThread();
    ASSERT_TRUE(pty.send("x"));
    for (int i = 0; i < 2000 && thread->handOvers() == 0; ++i)
        usleep(10000);
    owned.reset(); // with a hand-over waiting for this thread
    ASSERT_TRUE(QTest::qWaitFor([&] { return thread->finished(); }, waitMs));
    // The device is free again.
    port.Open();
    EXPECT_TRUE(port.Enabled());
}
