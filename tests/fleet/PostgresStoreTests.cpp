#include "StoreTestData.h"
#include "TestPostgres.h"

#include "fleet/PostgresAddress.h"
#include "fleet/StoreCopy.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

using namespace fleet;
using namespace storetest;

namespace {

// Runs this thread's events until `done`, or a minute if it never is (a
// guard against a hung test, not a measure).
bool eventsUntil(const std::function<bool()>& done)
{
    bool late = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&late] { late = true; });
    limit.start(60000);
    while (!done() && !late)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

StoreError openFails(const QString& location, OpenMode mode = OpenMode::Write)
{
    try {
        openStore(location, mode);
    } catch (const StoreError& error) {
        return error;
    }
    ADD_FAILURE() << "the store at " << location.toStdString() << " opened";
    return {};
}

TEST(PostgresAddressTest, ReadsTheOperatorsFormsAndNeverKeepsAPassword)
{
    PostgresAddress a = parsePostgresAddress(QStringLiteral("postgresql://tecnico@db.officina:6543/flotta"));
    EXPECT_EQ(a.user, QStringLiteral("tecnico"));
    EXPECT_EQ(a.host, QStringLiteral("db.officina"));
    EXPECT_EQ(a.port, 6543);
    EXPECT_EQ(a.database, QStringLiteral("flotta"));
    EXPECT_EQ(a.display(), QStringLiteral("postgresql://tecnico@db.officina:6543/flotta"));

    a = parsePostgresAddress(QStringLiteral("postgres://tecnico@/flotta?host=/run/postgresql&sslmode=disable"));
    EXPECT_EQ(a.host, QStringLiteral("/run/postgresql"));
    EXPECT_EQ(a.display(), QStringLiteral("postgresql://tecnico@/flotta?host=/run/postgresql"));
    EXPECT_TRUE(a.connectOptions().contains(QStringLiteral("sslmode=disable")));
    EXPECT_EQ(parsePostgresAddress(QStringLiteral("postgresql://%2Fvar%2Frun/f")).host, QStringLiteral("/var/run"));
    EXPECT_EQ(parsePostgresAddress(QStringLiteral("postgresql://u@[::1]:5433/f")).host, QStringLiteral("::1"));

    for (const char* bad : { "postgresql://tecnico:Segreto1@db/flotta", "postgresql://tecnico@db/flotta?password=Segreto1",
                             "postgresql://tecnico@db/", "postgresql://tecnico@db:99999/f", "postgresql://db/f?colore=blu",
                             "postgresql://db/f%0Ax" }) {
        try {
            parsePostgresAddress(QString::fromLatin1(bad));
            ADD_FAILURE() << bad << " was taken";
        } catch (const StoreError& error) {
            EXPECT_FALSE(error.message.contains(QStringLiteral("Segreto1"))) << error.message.toStdString();
        }
    }
}

class ServerStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (testpg::socketFolder().isEmpty())
            GTEST_SKIP() << "no PostgreSQL server in this run (ctest starts one)";
        ASSERT_TRUE(server_.made());
    }
    // A role of this test's own (roles belong to the whole server).
    QString role(const char* what) const { return server_.name() + QLatin1Char('_') + QLatin1String(what); }

    testpg::Database server_;
};

TEST_F(ServerStore, ServersAndRolesThatCannotBeUsedAreToldWithoutThePassword)
{
    const QTemporaryDir nobodyThere;
    StoreError error = openFails(QStringLiteral("postgresql://pradix@/flotta?host=%1").arg(nobodyThere.path()));
    EXPECT_EQ(error.kind, StoreError::Kind::Other);
    EXPECT_TRUE(error.message.contains(QStringLiteral("impossibile collegarsi al server"))) << error.message.toStdString();
    EXPECT_TRUE(error.message.contains(nobodyThere.path())) << "the server's reason names its socket";

    error = openFails(QStringLiteral("postgresql://pradix@/manca_%1?host=%2").arg(server_.name(), testpg::socketFolder()));
    EXPECT_EQ(error.kind, StoreError::Kind::Missing) << error.message.toStdString();

    ASSERT_TRUE(server_.exec({ QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD 'Giusta-77'").arg(role("ospite")) }));
    qputenv("PGPASSWORD", "Sbagliata-42");
    error = openFails(server_.url(role("ospite")));
    EXPECT_TRUE(error.message.contains(QStringLiteral("password errata"))) << error.message.toStdString();
    EXPECT_FALSE(error.message.contains(QStringLiteral("Sbagliata-42")));
    // The right one from the environment: in, but with no right to make the tables.
    qputenv("PGPASSWORD", "Giusta-77");
    error = openFails(server_.url(role("ospite")));
    qunsetenv("PGPASSWORD");
    EXPECT_EQ(error.kind, StoreError::Kind::ReadOnly) << error.message.toStdString();
    EXPECT_TRUE(error.message.contains(QStringLiteral("permessi"))) << error.message.toStdString();
    EXPECT_FALSE(error.message.contains(QStringLiteral("Giusta-77")));
}

TEST_F(ServerStore, ANewerLayoutOrAnotherProgramsDatabaseIsLeftUntouched)
{
    EXPECT_EQ(openFails(server_.url(), OpenMode::Read).kind, StoreError::Kind::Missing);
    openStore(server_.url(), OpenMode::Write);
    ASSERT_TRUE(server_.exec({ QStringLiteral("UPDATE pradix_store SET version = 99") }));
    const StoreError newer = openFails(server_.url());
    EXPECT_EQ(newer.kind, StoreError::Kind::NewerSchema);
    EXPECT_TRUE(newer.message.contains(QStringLiteral("formato 99"))) << newer.message.toStdString();

    testpg::Database other;
    ASSERT_TRUE(other.exec({ QStringLiteral("CREATE TABLE clienti (id INTEGER)") }));
    EXPECT_EQ(openFails(other.url()).kind, StoreError::Kind::NotAStore);
    ASSERT_TRUE(other.exec({ QStringLiteral("SELECT 1 FROM clienti") }));
}

// A store goes to the server and comes back the same: every run, session,
// version and state, the ids with them; the server then numbers new rows
// after the copied ones; a target that holds anything is refused.
TEST_F(ServerStore, AStoreCopiedToTheServerAndBackReadsTheSame)
{
    const QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("fleet.sqlite"));
    const Customer a = customer(1, QStringLiteral("0301")), b = customer(2, QStringLiteral("0302"));
    {
        auto store = openStore(file, OpenMode::Write);
        for (int day = 0; day < 2; ++day) {
            const qint64 id = store->startRun({ QStringLiteral("com2") }, { a, b }, night(day));
            store->recordSession(id, session(a, day == 0 ? Outcome::NoSummary : Outcome::Different, night(day, 1), 'A' + char(day)));
            store->recordSession(id, session(b, Outcome::Unreached, night(day, 2)));
            store->endRun(id, RunEnd::Finished, night(day, 3));
        }
    }
    const std::vector<CopiedTable> copied = copyStore(file, server_.url());
    ASSERT_EQ(copied.size(), 6u);
    EXPECT_EQ(copied[0].rows, 2); // runs
    EXPECT_EQ(copied[3].rows, 4); // sessions

    const QString back = folder.filePath(QStringLiteral("back.sqlite"));
    copyStore(server_.url(), back);
    auto original = openStore(file, OpenMode::Read);
    auto returned = openStore(back, OpenMode::Read);
    const std::vector<RunRow> rows = returned->runRows(2);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].differences.size(), original->runRows(2)[0].differences.size());
    EXPECT_EQ(returned->versions(QStringLiteral("0301"))[1].table, original->versions(QStringLiteral("0301"))[1].table);
    EXPECT_EQ(returned->box(QStringLiteral("0302"))->failingSince, original->box(QStringLiteral("0302"))->failingSince);

    auto server = openStore(server_.url(), OpenMode::Write);
    const qint64 next = server->startRun({}, { a }, night(5));
    EXPECT_EQ(next, 3);
    server->recordSession(next, session(a, Outcome::Same, night(5, 1), 'B'));
    server->endRun(next, RunEnd::Finished, night(5, 2));
    EXPECT_EQ(server->versions(QStringLiteral("0301")).size(), 2u);

    try {
        copyStore(file, server_.url());
        ADD_FAILURE() << "a store was copied over another";
    } catch (const StoreError& error) {
        EXPECT_TRUE(error.message.contains(QStringLiteral("non è vuoto"))) << error.message.toStdString();
    }
    EXPECT_EQ(server->run(next)->counts[size_t(Outcome::Same)], 1);
}

// Two runners share a run: a customer is claimed by one at a time, a runner
// whose lease ran out writes nothing over the one that called again, the
// non raggiunta come back for their further sessions, and the run is
// complete once each customer has its final outcome.
TEST_F(ServerStore, RunnersShareARunAndALateRunnerWritesNothing)
{
    const Customer a = customer(1, QStringLiteral("0301")), b = customer(2, QStringLiteral("0302"));
    const Customer nobody = customer(3, QString());
    auto first = openStore(server_.url(), OpenMode::Write);
    auto second = openStore(server_.url(), OpenMode::Write);
    const qint64 id = first->startRun({ QStringLiteral("com2") }, { a, b, nobody }, night(0));
    EXPECT_THROW(second->joinRun(id, { a, customer(2, QStringLiteral("0399")), nobody }, night(0)), StoreError);
    second->joinRun(id, { a, b, nobody }, night(0));

    const Claim lapsed = *first->claimNext(id, 1, 0); // a lease that runs out at once
    const Claim again = *second->claimNext(id, 1, 60000);
    EXPECT_EQ(lapsed.customer.card, 1);
    EXPECT_EQ(again.customer.card, 1);
    const Claim other = *first->claimNext(id, 1, 60000);
    EXPECT_EQ(other.customer.card, 2);
    EXPECT_FALSE(second->claimNext(id, 1, 60000).has_value());

    EXPECT_TRUE(second->recordClaimed(id, again, session(a, Outcome::Different, night(0, 1)), 0));
    EXPECT_FALSE(first->recordClaimed(id, lapsed, session(a, Outcome::Same, night(0, 2)), 0));
    EXPECT_TRUE(first->recordClaimed(id, other, session(b, Outcome::Unreached, night(0, 3)), 0));
    EXPECT_FALSE(first->runComplete(id, 1));
    const Claim retry = *second->claimNext(id, 1, 60000);
    EXPECT_EQ(retry.customer.card, 2);
    EXPECT_EQ(retry.attempts, 1);
    EXPECT_TRUE(second->recordClaimed(id, retry, session(b, Outcome::Unreached, night(0, 4), 'A', 1), 0));
    EXPECT_FALSE(first->claimNext(id, 1, 60000).has_value());
    EXPECT_TRUE(first->runComplete(id, 1));

    const std::vector<RunRow> rows = first->runRows(id);
    EXPECT_EQ(rows[0].outcome, Outcome::Different);
    EXPECT_EQ(rows[0].attempts, 1);
    EXPECT_EQ(rows[1].attempts, 2);
    EXPECT_EQ(first->history(QStringLiteral("0301")).size(), 1u);
}

// A customer whose row another runner holds locked, in the middle of its
// own claim, is passed over at once rather than waited for.
TEST_F(ServerStore, AClaimPassesOverACustomerAnotherRunnerIsClaiming)
{
    // Waiting would end in an error here instead of a hung test.
    ASSERT_TRUE(server_.exec({ QStringLiteral("ALTER DATABASE %1 SET lock_timeout = '5s'").arg(server_.name()) }));
    auto store = openStore(server_.url(), OpenMode::Write);
    const qint64 id = store->startRun({}, { customer(1, QStringLiteral("0301")), customer(2, QStringLiteral("0302")) },
                                      night(0));
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("other-runner"));
        other.setHostName(testpg::socketFolder());
        other.setUserName(QStringLiteral("pradix"));
        other.setDatabaseName(server_.name());
        ASSERT_TRUE(other.open());
        QSqlQuery lock(other);
        ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN")));
        ASSERT_TRUE(lock.exec(QStringLiteral("SELECT 1 FROM run_customers WHERE position = 0 FOR UPDATE")));
        const std::optional<Claim> claim = store->claimNext(id, 0, 60000);
        ASSERT_TRUE(claim.has_value());
        EXPECT_EQ(claim->customer.card, 2);
        lock.exec(QStringLiteral("ROLLBACK"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other-runner"));
}

// A runner waiting for customers the others hold hears when one of them
// records a session or gives a customer back, and nothing once it stops
// listening.
TEST_F(ServerStore, AWaitingRunnerHearsTheOthersRecordAndGiveBack)
{
    const Customer a = customer(1, QStringLiteral("0301")), b = customer(2, QStringLiteral("0302"));
    auto first = openStore(server_.url(), OpenMode::Write);
    auto second = openStore(server_.url(), OpenMode::Write);
    const qint64 id = first->startRun({ QStringLiteral("com2") }, { a, b }, night(0));
    second->joinRun(id, { a, b }, night(0));
    int heard = 0;
    second->watchClaims([&heard] { ++heard; });
    const Claim ofA = *first->claimNext(id, 0, 60000);
    const Claim ofB = *first->claimNext(id, 0, 60000);

    EXPECT_TRUE(first->recordClaimed(id, ofA, session(a, Outcome::Same, night(0, 1)), 0));
    EXPECT_TRUE(eventsUntil([&heard] { return heard == 1; }));
    first->releaseClaim(id, ofB);
    EXPECT_TRUE(eventsUntil([&heard] { return heard == 2; }));

    second->watchClaims({});
    const Claim again = *first->claimNext(id, 0, 60000);
    EXPECT_TRUE(first->recordClaimed(id, again, session(b, Outcome::Same, night(0, 2)), 0));
    // A notification would come with the answer to this.
    EXPECT_TRUE(second->runComplete(id, 0));
    QCoreApplication::processEvents();
    EXPECT_EQ(heard, 2);
}

} // namespace
