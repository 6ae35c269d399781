#include "StoreTestData.h"
#include "TestPostgres.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <unistd.h>

using namespace fleet;
using namespace storetest;

namespace {

// Every case runs on a file and on the run's PostgreSQL server alike.
class Store : public ::testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        if (QLatin1String(GetParam()) != QLatin1String("postgresql"))
            return;
        if (testpg::socketFolder().isEmpty())
            GTEST_SKIP() << "no PostgreSQL server in this run (ctest starts one)";
        server_ = std::make_unique<testpg::Database>();
        ASSERT_TRUE(server_->made());
        location_ = server_->url();
    }
    std::unique_ptr<FleetStore> open(OpenMode mode = OpenMode::Write) { return openStore(location_, mode); }

    // One finished run with these sessions, over their customers.
    qint64 runOnce(FleetStore& store, const std::vector<SessionResult>& sessions, int day)
    {
        std::vector<Customer> customers;
        for (const SessionResult& s : sessions)
            if (customers.empty() || customers.back().card != s.customer.card)
                customers.push_back(s.customer);
        const qint64 id = store.startRun({ QStringLiteral("com2") }, customers, night(day));
        for (const SessionResult& s : sessions)
            store.recordSession(id, s);
        store.endRun(id, RunEnd::Finished, night(day, 30));
        return id;
    }

    QTemporaryDir folder_;
    QString location_ = folder_.filePath(QStringLiteral("fleet.sqlite"));
    std::unique_ptr<testpg::Database> server_;
};

TEST_P(Store, RunRowsKeepTheRunsOrderOutcomesAndDifferences)
{
    auto store = open();
    const Customer nobody = customer(2, QString());
    const Customer same = customer(7, QStringLiteral("0301")), other = customer(1, QStringLiteral("0302"));
    const qint64 id = store->startRun({ QStringLiteral("com2"), QStringLiteral("com3") }, { same, nobody, other },
                                      night(0));
    store->recordSession(id, session(same, Outcome::Unreached, night(0, 1)));
    store->recordSession(id, session(other, Outcome::Different, night(0, 2)));
    store->recordSession(id, session(same, Outcome::Same, night(0, 3), 'A', 1));
    store->endRun(id, RunEnd::Finished, night(0, 9));

    const std::vector<RunRow> rows = open(OpenMode::Read)->runRows(id);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].customer.card, 7);
    EXPECT_EQ(rows[0].outcome, Outcome::Same);
    EXPECT_EQ(rows[0].attempts, 2);
    EXPECT_EQ(rows[1].customer.card, 2);
    EXPECT_FALSE(rows[1].outcome.has_value());
    EXPECT_EQ(rows[2].outcome, Outcome::Different);
    ASSERT_EQ(rows[2].differences.size(), 2u);
    EXPECT_EQ(rows[2].differences[0].boxValue, QStringLiteral("1930"));
    EXPECT_EQ(rows[2].since, night(0, 2).addSecs(40));

    const RunInfo info = *store->lastRun();
    EXPECT_EQ(info.end, RunEnd::Finished);
    EXPECT_EQ(info.ports, QStringList({ QStringLiteral("com2"), QStringLiteral("com3") }));
    EXPECT_EQ(info.counts[size_t(Outcome::Same)], 1);
    EXPECT_EQ(info.counts[size_t(Outcome::Different)], 1);
    EXPECT_EQ(info.counts[size_t(Outcome::Unreached)], 0);
    EXPECT_EQ(info.ended, night(0, 9));
}

TEST_P(Store, ATableIsKeptOncePerContentAndABadReadNever)
{
    auto store = open();
    const Customer who = customer(1, QStringLiteral("0301"));
    runOnce(*store, { session(who, Outcome::NoSummary, night(0), 'A') }, 0);
    runOnce(*store, { session(who, Outcome::Same, night(1), 'A') }, 1);
    SessionResult garbled = session(who, Outcome::Unreached, night(2));
    garbled.table = table('Z'); // a table cut short or garbled is never a version
    runOnce(*store, { garbled }, 2);
    runOnce(*store, { session(who, Outcome::Different, night(3), 'B') }, 3);
    runOnce(*store, { session(who, Outcome::Same, night(4), 'A') }, 4);

    const std::vector<Version> versions = store->versions(QStringLiteral("0301"));
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0].timesSeen, 3);
    EXPECT_EQ(versions[0].lastSeen, night(4).addSecs(40));
    EXPECT_EQ(versions[1].table, table('B'));
    EXPECT_EQ(store->version(versions[1].id)->number, QStringLiteral("0301"));

    const std::vector<HistoryEntry> history = store->history(QStringLiteral("0301"));
    ASSERT_EQ(history.size(), 5u);
    EXPECT_EQ(history[2].versionId, 0);
    EXPECT_EQ(history[3].versionId, versions[1].id);
    EXPECT_EQ(history[3].differences.size(), 2u);
    // The box went back to its first table: that is a change too.
    const BoxState box = *store->box(QStringLiteral("0301"));
    EXPECT_EQ(box.lastChange, night(4).addSecs(40));
    EXPECT_EQ(box.differingFields, 0);
}

TEST_P(Store, FailuresInARowCountRunsNotAttempts)
{
    auto store = open();
    const Customer who = customer(1, QStringLiteral("0301"));
    runOnce(*store, { session(who, Outcome::Same, night(0)) }, 0);
    runOnce(*store, { session(who, Outcome::Unreached, night(1)), session(who, Outcome::Refused, night(1, 5), 'A', 1),
                      session(who, Outcome::Unreached, night(1, 9), 'A', 2) }, 1);
    BoxState box = *store->box(QStringLiteral("0301"));
    EXPECT_EQ(box.failuresInRow, 1);
    EXPECT_EQ(box.failingSince, night(1).addSecs(40));
    runOnce(*store, { session(who, Outcome::Refused, night(2)) }, 2);
    box = *store->box(QStringLiteral("0301"));
    EXPECT_EQ(box.failuresInRow, 2);
    EXPECT_EQ(box.failingSince, night(1).addSecs(40));
    EXPECT_EQ(box.lastSuccess, night(0).addSecs(40));
    EXPECT_EQ(box.lastChange, night(0).addSecs(40));

    runOnce(*store, { session(who, Outcome::Unreached, night(3)), session(who, Outcome::Same, night(3, 5), 'A', 1) }, 3);
    box = *store->box(QStringLiteral("0301"));
    EXPECT_EQ(box.failuresInRow, 0);
    EXPECT_FALSE(box.failingSince.isValid());
    EXPECT_EQ(box.lastChange, night(0).addSecs(40));
}

TEST_P(Store, ABoxIsKnownByItsNumberWhenItsCardIsRenumbered)
{
    auto store = open();
    runOnce(*store, { session(customer(3, QStringLiteral("0301")), Outcome::Same, night(0)) }, 0);
    runOnce(*store, { session(customer(1, QStringLiteral("0301")), Outcome::Same, night(1)) }, 1);
    const std::vector<BoxState> boxes = store->boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].card, 1);
    EXPECT_EQ(store->history(QStringLiteral("0301")).size(), 2u);
}

TEST_P(Store, ASecondAuditIsRefusedNamingTheFirstsProcess)
{
    auto first = open();
    auto second = open();
    const Customer who = customer(1, QStringLiteral("0301"));
    const qint64 id = first->startRun({}, { who }, night(0));
    try {
        second->startRun({}, { who }, night(0));
        ADD_FAILURE() << "a second audit started";
    } catch (const StoreError& error) {
        EXPECT_EQ(error.kind, StoreError::Kind::Busy);
        EXPECT_EQ(error.holderPid, qint64(getpid()));
        EXPECT_TRUE(error.message.contains(QStringLiteral("è in uso dal processo %1").arg(getpid()))) << error.message.toStdString();
    }
    EXPECT_FALSE(second->lastInterruptedRun().has_value());
    first->endRun(id, RunEnd::Finished, night(0, 1));
    EXPECT_NO_THROW(second->endRun(second->startRun({}, { who }, night(1)), RunEnd::Finished, night(1, 1)));
}

TEST_P(Store, AnInterruptedRunIsResumedWhereItStopped)
{
    const Customer a = customer(1, QStringLiteral("0301")), b = customer(2, QStringLiteral("0302"));
    qint64 id = 0;
    {
        auto store = open();
        id = store->startRun({ QStringLiteral("com2") }, { a, b }, night(0));
        store->recordSession(id, session(a, Outcome::Same, night(0, 1)));
        // The process dies here: no end recorded, the lock let go.
    }
    auto store = open();
    // A server lets a closed connection's lock go a moment after the close.
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->lastInterruptedRun().has_value(); }, 5000));
    EXPECT_EQ(store->lastInterruptedRun()->id, id);
    store->resumeRun(id, { QStringLiteral("com3") }, night(0, 20));
    EXPECT_FALSE(store->lastInterruptedRun().has_value());
    store->recordSession(id, session(b, Outcome::Unreached, night(0, 21)));
    store->endRun(id, RunEnd::Interrupted, night(0, 22));
    EXPECT_EQ(store->lastInterruptedRun()->ports, QStringList { QStringLiteral("com3") });

    store->resumeRun(id, { QStringLiteral("com2") }, night(0, 30));
    const std::vector<RunRow> rows = store->runRows(id);
    EXPECT_EQ(rows[0].outcome, Outcome::Same);
    EXPECT_EQ(rows[1].outcome, Outcome::Unreached);
    store->recordSession(id, session(b, Outcome::Same, night(0, 31), 'B', 1));
    store->endRun(id, RunEnd::Finished, night(0, 32));
    EXPECT_EQ(store->run(id)->counts[size_t(Outcome::Same)], 2);
    EXPECT_THROW(store->resumeRun(id, {}, night(1)), StoreError);
}

INSTANTIATE_TEST_SUITE_P(OnFileAndServer, Store, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

} // namespace
