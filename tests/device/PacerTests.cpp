// The pauses of a write as the box meets them: each one counts from the moment its piece had
// left for the line, and the next record is shown inside it, never between the pause and the
// piece it precedes.

#include "device/Pacer.h"
#include "device/WritePlan.h"
#include "serial/CommInt.h"

#include "../serial/PtyPair.h"
#include "GridText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Time = Pacer::TimePoint;

// The port's writes in one log with the pauses and the records shown; the time each write
// had drained (the last time the port found nothing pending).
struct Log
{
    std::vector<std::string> events;
    Time drained {};
};

class DrainingPort : public TComm
{
public:
    explicit DrainingPort(Log& log) : log_(log) {}

protected:
    int OutputPending() const override
    {
        log_.drained = Time::clock::now();
        return 0;
    }

private:
    Log& log_;
};

class PauseLog : public Pacer
{
public:
    explicit PauseLog(Log& log) : log_(log) {}
    void sleep(int) override { ADD_FAILURE() << "a write pauses through pauseSince"; }
    void pauseSince(Time since, int ms, const std::function<void()>& meanwhile) override
    {
        EXPECT_GE(since, log_.drained) << "a pause counted from before its piece had left";
        // What happens inside the pause is written into its entry: "pause 50 + show 2".
        const std::size_t before = log_.events.size();
        if (meanwhile)
            meanwhile();
        std::string entry = "pause " + std::to_string(ms);
        for (std::size_t i = before; i < log_.events.size(); ++i)
            entry += " + " + log_.events[i];
        log_.events.resize(before);
        log_.events.push_back(entry);
    }

private:
    Log& log_;
};

class Noon : public Clock
{
public:
    ClockReading now() const override { return { 12, 0, 1 }; }
};

} // namespace

TEST(WritePauses, CountFromTheDrainAndShowTheNextRecordInsideThem)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Log log;
    DrainingPort port(log);
    port.setMonitorEvents({});
    port.setFlowControl(fcNone);
    port.setDeviceName(pty.path);
    port.Open();
    // The pieces of one record are one entry: how a record is cut is the codec's affair.
    port.setWriteFault([&log](int, int) {
        if (log.events.empty() || log.events.back() != "write")
            log.events.push_back("write");
        return false;
    });
    TableGrid grid = freshGrid();
    setRowText(grid, 1, QStringLiteral("U#A#0461#-----B0----------"));
    const writeplan::Plan plan = writeplan::plan(grid, {});
    ASSERT_TRUE(plan.ok()) << plan.message.toStdString();
    PauseLog pacer(log);

    const writeplan::Result result = writeplan::send(plan, port, pacer, Noon(),
        [&log](int association) { log.events.push_back("show " + std::to_string(association)); });

    ASSERT_TRUE(result.sent());
    // Request, header, then each record: shown in the pause before it, written, paused after.
    std::vector<std::string> expected { "write", "pause 45", "write", "pause 55 + show 1" };
    for (int association = 1; association < 127; ++association)
        expected.insert(expected.end(), { "write", "pause 50 + show " + std::to_string(association + 1) });
    expected.insert(expected.end(), { "write", "pause 50" });
    expected.push_back("write"); // the clock
    EXPECT_EQ(log.events, expected);
}
