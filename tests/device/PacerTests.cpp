// The pauses of a write as the box meets them: each counts from the moment its piece had left
// for the line, and the next record is shown inside it, not between it and the piece it precedes.

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

// The port and its pacer in one: writes, pauses and records shown, in one log; what happens
// inside a pause is written into its entry ("pause 50 + show 2"). `drained` is when the port
// last found its output gone.
struct RecordingLine : public Pacer, public TComm
{
    std::vector<std::string> events;
    mutable Time drained {};

    int OutputPending() const override
    {
        drained = Time::clock::now();
        return 0;
    }
    void sleep(int) override { ADD_FAILURE() << "a write pauses through pauseSince"; }
    void pauseSince(Time since, int ms, const std::function<void()>& meanwhile) override
    {
        EXPECT_GE(since, drained) << "a pause counted from before its piece had left";
        const std::size_t before = events.size();
        if (meanwhile)
            meanwhile();
        std::string entry = "pause " + std::to_string(ms);
        for (std::size_t i = before; i < events.size(); ++i)
            entry += " + " + events[i];
        events.resize(before);
        events.push_back(entry);
    }
};

struct Noon : public Clock
{
    ClockReading now() const override { return { 12, 0, 1 }; }
};

} // namespace

TEST(WritePauses, CountFromTheDrainAndShowTheNextRecordInsideThem)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    RecordingLine line;
    line.setMonitorEvents({});
    line.setFlowControl(fcNone);
    line.setDeviceName(pty.path);
    line.Open();
    // The pieces of one record are one entry: how a record is cut is the codec's affair.
    line.setWriteFault([&line](int, int) {
        if (line.events.empty() || line.events.back() != "write")
            line.events.push_back("write");
        return false;
    });
    TableGrid grid = freshGrid();
    setRowText(grid, 1, QStringLiteral("U#A#0461#-----B0----------"));
    const writeplan::Plan plan = writeplan::plan(grid, {});
    ASSERT_TRUE(plan.ok()) << plan.message.toStdString();

    const writeplan::Result result = writeplan::send(plan, line, line, Noon(),
        [&line](int association) { line.events.push_back("show " + std::to_string(association)); });

    ASSERT_TRUE(result.sent());
    std::vector<std::string> expected { "write", "pause 45", "write", "pause 55 + show 1" };
    for (int association = 1; association < 127; ++association)
        expected.insert(expected.end(), { "write", "pause 50 + show " + std::to_string(association + 1) });
    expected.insert(expected.end(), { "write", "pause 50", "write" }); // the last record, the clock
    EXPECT_EQ(line.events, expected);
}
