// Write completes once the bytes have left for the line, and a test can make any one Write fail.

#include "serial/CommInt.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <utility>
#include <vector>

namespace {

void openOn(TComm& port, const PtyPair& pty, int writeTimeout)
{
    port.setWriteTimeout(writeTimeout);
    port.setMonitorEvents({evRxChar});
    port.setFlowControl(fcNone);
    port.setDeviceName(pty.path);
    port.Open();
}

// A line whose driver reports bytes still waiting: a fixed number of reports, then empty; or
// never empty when `reports` is negative.
class QueuedLine : public TComm
{
public:
    explicit QueuedLine(int reports) : reports_(reports) {}
    int asked() const { return asked_; }

protected:
    int OutputPending() const override
    {
        ++asked_;
        if (reports_ < 0)
            return 16;
        return asked_ <= reports_ ? reports_ - asked_ + 1 : 0;
    }

private:
    int reports_;
    mutable std::atomic<int> asked_{0};
};

TEST(PortWrite, APseudoTerminalTakesAWholeTableAtOnceWhileTheFarEndReadsNothing)
{
    // The far end reads nothing until Write has returned: were the pseudo-terminal to count
    // what waits in it as output not yet on the line, Write would run out of time.
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    TComm port;
    openOn(port, pty, 300);
    QByteArray table(2054, '\0');
    for (int i = 0; i < table.size(); ++i)
        table[i] = char(i * 7);
    EXPECT_EQ(port.Write(table.constData(), int(table.size())), 2054);
    EXPECT_EQ(port.Write("\x02\x01\x02", 3), 3);
    EXPECT_EQ(pty.receive(2057), table + QByteArray("\x02\x01\x02", 3));
    port.Close();
}

TEST(PortWrite, WaitsForTheDriverQueueAndFailsWhenItNeverEmpties)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    {
        QueuedLine port(3);
        openOn(port, pty, 5000);
        EXPECT_EQ(port.Write("abcd", 4), 4);
        EXPECT_EQ(port.asked(), 4) << "asked until the queue read empty";
        port.Close();
    }
    pty.pending();
    {
        QueuedLine port(-1);
        openOn(port, pty, 30);
        EXPECT_EQ(port.Write("abcd", 4), -1);
        EXPECT_GT(port.asked(), 1);
        // Close gives up on the stuck queue too, and the port can be opened again.
        port.Close();
        EXPECT_FALSE(port.Enabled());
        port.Open();
        EXPECT_TRUE(port.Enabled());
        port.Close();
    }
}

TEST(PortWrite, TheChosenCallFailsWithoutSendingAndTheCountStartsAgainAtOpen)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    TComm port;
    std::vector<std::pair<int, int>> seen;
    port.setWriteFault([&seen](int call, int count) {
        seen.emplace_back(call, count);
        return call == 1;
    });
    openOn(port, pty, 1000);
    EXPECT_EQ(port.Write("\x02\x01\x02", 3), 3);
    EXPECT_EQ(port.Write("0123456789abcdef", 16), -1);
    EXPECT_EQ(port.Write("Z", 1), 1);
    EXPECT_EQ(port.WriteCalls(), 3);
    EXPECT_EQ(pty.receive(4), QByteArray("\x02\x01\x02Z", 4)) << "the failed piece never reached the line";
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{ { 0, 3 }, { 1, 16 }, { 2, 1 } }));
    port.Close();

    // A closed port still raises, and does not count.
    EXPECT_THROW(port.Write("Z", 1), ECommError);
    EXPECT_EQ(port.WriteCalls(), 3);

    port.Open();
    EXPECT_EQ(port.WriteCalls(), 0);
    EXPECT_EQ(port.Write("A", 1), 1);
    EXPECT_EQ(port.Write("B", 1), -1);
    port.setWriteFault(nullptr);
    EXPECT_EQ(port.Write("C", 1), 1);
    EXPECT_EQ(pty.receive(2), QByteArray("AC"));
    port.Close();
}

} // namespace
