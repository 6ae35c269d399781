// audit run --join: runners on several machines (processes, each with its
// own simulated unit) sharing one run on the store's PostgreSQL server.

#include "book/CustomerCard.h"
#include "fleet/FleetStore.h"
#include "tests/common/TestFiles.h"

#include "BoxSim.h"
#include "TestPostgres.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class TeamRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (testpg::socketFolder().isEmpty())
            GTEST_SKIP() << "no PostgreSQL server in this run (ctest starts one)";
        ASSERT_TRUE(server_.made());
    }

    void writeBook(const QString& name, const QStringList& numbers) const
    {
        QByteArray bytes;
        for (const QString& number : numbers) {
            CustomerCard card;
            card.setText(CustomerCard::Field::Cognome, QStringLiteral("CLIENTE ") + number);
            card.setText(CustomerCard::Field::Numero, number);
            bytes += QByteArray(reinterpret_cast<const char*>(card.data()), CustomerCard::Size);
        }
        testfiles::writeFile(dir_.filePath(name), bytes);
    }

    // A runner as a machine starts it: its own unit, the shared store.
    void start(QProcess& runner, const BoxSim& unit, const QString& book = QStringLiteral("RUBRICA.DAT"))
    {
        runner.setWorkingDirectory(dir_.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PRADIX_PACE_SCALE"), QStringLiteral("0.01"));
        runner.setProcessEnvironment(env);
        runner.start(QStringLiteral(PRADIX_TOOL_PATH),
                     { QStringLiteral("audit"), QStringLiteral("run"), QStringLiteral("--join"), QStringLiteral("--port"),
                       QString::fromStdString(unit.devicePath()), QStringLiteral("--book"), book,
                       QStringLiteral("--store"), server_.url(), QStringLiteral("--timeout"), QStringLiteral("1"),
                       QStringLiteral("--rounds"), QStringLiteral("1") });
        ASSERT_TRUE(runner.waitForStarted());
    }

    static int dials(const BoxSim& unit)
    {
        return int(QString::fromStdString(unit.readLog()).count(QStringLiteral(" FRAME dial ")));
    }

    QTemporaryDir dir_;
    testpg::Database server_;
};

// Two runners share a night: every customer called once (the one that does
// not answer twice, its further round), by one runner or the other, and the
// run ends finished, with the whole run's exit code on both.
TEST_F(TeamRunTest, TwoRunnersCallEveryCustomerOnce)
{
    const QStringList numbers = { "0461001", "0461002", "0461003", "0461004", "0461005", "0461006" };
    writeBook(QStringLiteral("RUBRICA.DAT"), numbers);
    BoxSim one, two;
    for (BoxSim* unit : { &one, &two })
        ASSERT_TRUE(unit->start({ "--fast", "--unit", "--customer", "0461004:no-answer", "--log", unit->file("unit.log") }))
            << unit->error();
    QProcess first, second;
    start(first, one);
    start(second, two);
    for (QProcess* runner : { &first, &second }) {
        ASSERT_TRUE(runner->waitForFinished(90000));
        EXPECT_EQ(runner->exitCode(), 3) << runner->readAllStandardError().toStdString();
    }
    EXPECT_EQ(dials(one) + dials(two), 7) << one.readLog() << two.readLog();

    auto store = fleet::openStore(server_.url(), fleet::OpenMode::Read);
    const fleet::RunInfo run = *store->lastRun();
    EXPECT_EQ(run.end, fleet::RunEnd::Finished);
    EXPECT_EQ(run.counts[size_t(fleet::Outcome::NoSummary)], 5);
    for (const fleet::RunRow& row : store->runRows(run.id)) {
        EXPECT_EQ(row.attempts, row.customer.number == QLatin1String("0461004") ? 2 : 1) << row.customer.number.toStdString();
        EXPECT_TRUE(row.port == QString::fromStdString(one.devicePath()) || row.port == QString::fromStdString(two.devicePath()));
    }
}

// The server cuts a runner off mid-run: the runner hangs up, says so and
// ends with the store's code; what it recorded before stays, the customers
// it held go to another runner once its lease runs out.
TEST_F(TeamRunTest, ARunnerCutOffFromTheServerHangsUpAndSaysSo)
{
    QStringList numbers;
    for (int i = 1; i <= 12; ++i)
        numbers << QStringLiteral("04610%1").arg(i, 2, 10, QLatin1Char('0'));
    writeBook(QStringLiteral("RUBRICA.DAT"), numbers);
    BoxSim unit;
    ASSERT_TRUE(unit.start({ "--unit", "--log", unit.file("unit.log") })) << unit.error();
    fleet::openStore(server_.url(), fleet::OpenMode::Write); // the tables, to watch
    QProcess runner;
    start(runner, unit);
    bool seen = false;
    for (int i = 0; i < 1500 && !seen && runner.state() == QProcess::Running; ++i) {
        seen = server_.value(QStringLiteral("SELECT count(*) FROM sessions")).toInt() > 0;
        if (!seen)
            QThread::msleep(20);
    }
    ASSERT_TRUE(seen) << "no session recorded";
    ASSERT_TRUE(server_.exec({ QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                              " WHERE application_name = 'pradix' AND datname = current_database()") }));
    ASSERT_TRUE(runner.waitForFinished(60000));
    EXPECT_EQ(runner.exitCode(), 5);
    const QByteArray said = runner.readAllStandardError();
    EXPECT_TRUE(said.contains("collegamento con il server")) << said.toStdString();
    const QString log = QString::fromStdString(unit.readLog());
    EXPECT_EQ(log.count(QStringLiteral(" FRAME dial ")), log.count(QStringLiteral(" FRAME hangup "))) << log.toStdString();
    EXPECT_LT(server_.value(QStringLiteral("SELECT count(*) FROM sessions")).toInt(), 12);
}

// A run belongs to one book: a runner with another one is refused before it
// dials anything.
TEST_F(TeamRunTest, ARunnerWithAnotherBookIsRefused)
{
    writeBook(QStringLiteral("ALTRA.DAT"), { "0461001", "0469999" });
    auto store = fleet::openStore(server_.url(), fleet::OpenMode::Write);
    store->startRun({ QStringLiteral("com1") },
                    { { 1, QStringLiteral("A"), QString(), QStringLiteral("0461001") },
                      { 2, QStringLiteral("B"), QString(), QStringLiteral("0461002") } },
                    QDateTime::currentDateTimeUtc());
    BoxSim unit;
    ASSERT_TRUE(unit.start({ "--fast", "--unit", "--log", unit.file("unit.log") })) << unit.error();
    QProcess runner;
    start(runner, unit, QStringLiteral("ALTRA.DAT"));
    ASSERT_TRUE(runner.waitForFinished(30000));
    EXPECT_EQ(runner.exitCode(), 5);
    EXPECT_TRUE(runner.readAllStandardError().contains("altra rubrica"));
    EXPECT_EQ(dials(unit), 0);
}

} // namespace
