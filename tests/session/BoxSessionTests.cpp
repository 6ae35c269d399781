// Sessions without a window, as the tool and the fleet's audit run them:
// several on several ports in one thread, each with its own line.

#include "session/BoxSession.h"

#include "device/Pacer.h"
#include "device/TableGrid.h"
#include "tables/TableBackup.h"
#include "serial/CommInt.h"

#include "BoxSim.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class NoWaits : public Pacer
{
public:
    void sleep(int) override {}
};

// A box's session as a front end without a window builds it.
struct Line
{
    explicit Line(const std::string& device)
    {
        setBoxLineSettings(port);
        port.OnRxChar = [this](TCustomComm&, int count) { session.exchange().receive(count); };
        session.exchange().setPortName(QString::fromStdString(device));
    }
    ~Line() { port.OnRxChar = nullptr; }

    TComm port;
    TableGrid grid;
    NoWaits pacer;
    RealClock clock;
    BoxSession session { port, grid, pacer, clock };
    QSignalSpy reads { &session, &BoxSession::tableRead };
};

bool bothRead(Line& a, Line& b, int count)
{
    return QTest::qWaitFor([&] { return a.reads.count() == count && b.reads.count() == count; }, 30000);
}

TEST(BoxSession, TwoSessionsOnTwoPortsWorkSideBySideInOneThread)
{
    BoxSim large;
    BoxSim small;
    ASSERT_TRUE(large.start({ "--fast", "--model", "22", "--log", large.file("box.log") })) << large.error();
    ASSERT_TRUE(small.start({ "--fast", "--model", "1", "--log", small.file("box.log") })) << small.error();
    Line a(large.devicePath());
    Line b(small.devicePath());

    // Both requests out before either table arrives: the two tables come in
    // interleaved, each into its own session's grid.
    a.session.readTable();
    b.session.readTable();
    ASSERT_TRUE(bothRead(a, b, 1));
    EXPECT_EQ(a.grid.cell(1, 1), QStringLiteral("U"));
    EXPECT_EQ(b.grid.cell(1, 1), QStringLiteral("Y"));
    const TableGrid readA = a.grid;
    const TableGrid readB = b.grid;

    // Each box takes its own table back, and both read again as they were.
    EXPECT_TRUE(a.session.writeTable(readA, { 1, QString(), QString() }).sent());
    EXPECT_TRUE(b.session.writeTable(readB, { 1, QString(), QString() }).sent());
    EXPECT_FALSE(a.session.exchange().busy());
    EXPECT_FALSE(b.session.exchange().busy());
    a.grid.fillData(QStringLiteral("-"));
    b.grid.fillData(QStringLiteral("-"));
    b.session.readTable();
    a.session.readTable();
    ASSERT_TRUE(bothRead(a, b, 2)) << "LARGE\n" << large.readLog() << "SMALL\n" << small.readLog();
    EXPECT_TRUE(a.grid.dataEquals(readA));
    EXPECT_TRUE(b.grid.dataEquals(readB));
}

// A table the write refuses: nothing opened, nothing kept, nothing told
// but the refusal.
TEST(BoxSession, ARefusedTableOpensNothingAndKeepsNoBackup)
{
    Line line("/nonexistent/port");
    const auto backups = [] { return QDir(editor::backupFolder()).entryList({ QStringLiteral("*_write_*") }).size(); };
    const auto before = backups();
    QSignalSpy starting(&line.session, &BoxSession::writeStarting);
    TableGrid table;
    table.fillData(QStringLiteral("-"));
    table.setCell(1, 1, QStringLiteral("U"));
    table.setCell(1, 2, QStringLiteral("3"));
    const writeplan::Result result = line.session.writeTable(table, { 1, QString(), QString() });
    EXPECT_EQ(result.outcome, writeplan::Result::Outcome::Refused);
    EXPECT_FALSE(result.message.isEmpty());
    EXPECT_FALSE(line.session.exchange().busy());
    EXPECT_EQ(starting.count(), 0);
    EXPECT_EQ(backups(), before);
}

// A box that never answers: with a silence limit the session stops waiting
// by itself, as "Stop" would, so a session without an operator never hangs.
TEST(BoxSession, AnAnswerThatNeverComesEndsTheWaitAtTheSilenceLimit)
{
    BoxSim silent;
    ASSERT_TRUE(silent.start({ "--fast", "--fault", "silent" })) << silent.error();
    Line line(silent.devicePath());
    line.session.setSilenceLimit(100);
    QSignalSpy missing(&line.session, &BoxSession::answerMissing);
    line.session.readTable();
    ASSERT_TRUE(missing.wait(10000));
    EXPECT_EQ(missing.first().first().toInt(), 0);
    EXPECT_FALSE(line.port.Enabled());
    EXPECT_FALSE(line.session.exchange().busy());
    EXPECT_EQ(line.reads.count(), 0);
}

} // namespace
