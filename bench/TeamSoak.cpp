// The shared audit's soak: each cycle one night shared by three runners
// (`pradix-tool audit run --join`, as three machines start it), each with two
// simulated dialling units of its own, over a book of a few dozen customers
// (some never answer), on a PostgreSQL server of the soak's own. At a random
// moment one runner is killed (SIGKILL: a power cut); at another the server
// cuts the connection of a second one (pg_terminate_backend).
//
// After every cycle: the run is finished; every customer has one final
// outcome, the one its box calls for; a box that answers was recorded once
// and one that does not once per round, never more (`soak_team_double_results`
// counts the customers recorded more often); a customer the killed runner
// was calling was called again by another runner; the units of the runners
// that lived hung up every call; and the killed runner's units saw their
// line let go if it had been taken (the port closed with the process, and
// with it DTR dropped) and are free to be opened again.

#include "bench/TeamSoak.h"

#include "bench/PgServer.h"
#include "bench/SoakSupport.h"
#include "book/CustomerCard.h"
#include "fleet/FleetStore.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QThread>

#include <array>
#include <cstdio>
#include <map>
#include <memory>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

namespace soak {
namespace {

constexpr int Runners = 3;
constexpr int UnitsPerRunner = 2;
constexpr int Customers = 30;
// The protocol's waits scaled down by the audit's pace seam, the lease with
// them (5 min becomes 6 s); the line itself runs at once (--fast).
const char* const PaceScale = "0.02";
constexpr int RunLimitMs = 180000;

struct Runner
{
    std::array<std::unique_ptr<Sim>, UnitsPerRunner> units;
    QProcess process;
};

// The dials of each number in a unit's log, and whether a call was left up.
struct Calls
{
    std::map<QString, int> dials;
    QString lastDialled;
    bool leftUp = false;
    bool lineLeftOpen = false; // the unit saw the port opened and never closed after
};

Calls callsIn(const QByteArray& log)
{
    Calls calls;
    for (const QByteArray& line : log.split('\n')) {
        const qsizetype dial = line.indexOf(" FRAME dial ");
        if (line.contains("line opened by the other end"))
            calls.lineLeftOpen = true;
        else if (line.contains("line closed by the other end") || line.contains("opened and closed again"))
            calls.lineLeftOpen = false;
        if (dial >= 0) {
            calls.lastDialled = QString::fromLatin1(line.mid(dial + 12)).section(QLatin1Char(' '), 0, 0);
            ++calls.dials[calls.lastDialled];
            calls.leftUp = true;
        } else if (line.contains(" FRAME hangup")) {
            calls.leftUp = false;
        }
    }
    return calls;
}

// Whether another process may take the port now, as the runner took it.
bool portFree(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

class TeamSoak
{
public:
    explicit TeamSoak(const bench::PgServer& server)
        : server_(server)
    {
    }

    std::string cycle(long n, std::mt19937& rng)
    {
        const QString database = QStringLiteral("night%1").arg(n);
        if (!server_.createDatabase(database))
            return "the cycle's database was not made";
        QSet<QString> silent;
        QStringList unitArguments { QStringLiteral("--fast"), QStringLiteral("--unit") };
        QByteArray book;
        for (int i = 0; i < Customers; ++i) {
            const QString number = QStringLiteral("0462%1").arg(i + 1, 3, 10, QLatin1Char('0'));
            if (std::uniform_int_distribution<int>(0, 5)(rng) == 0) {
                silent.insert(number);
                unitArguments << QStringLiteral("--customer") << number + QStringLiteral(":no-answer");
            }
            CustomerCard card;
            card.setText(CustomerCard::Field::Cognome, QStringLiteral("CLIENTE %1").arg(i + 1));
            card.setText(CustomerCard::Field::Numero, number);
            book.append(reinterpret_cast<const char*>(card.data()), CustomerCard::Size);
        }
        QFile file(folder_.filePath(QStringLiteral("RUBRICA.DAT")));
        if (!file.open(QIODevice::WriteOnly) || file.write(book) != book.size())
            return "the book cannot be written";
        file.close();

        std::array<Runner, Runners> runners;
        for (int r = 0; r < Runners; ++r) {
            QStringList arguments { QStringLiteral("audit"), QStringLiteral("run"), QStringLiteral("--join"),
                                    QStringLiteral("--book"), file.fileName(), QStringLiteral("--store"),
                                    server_.url(database), QStringLiteral("--timeout"), QStringLiteral("1"),
                                    QStringLiteral("--rounds"), QStringLiteral("1"), QStringLiteral("--quiet") };
            for (auto& unit : runners[size_t(r)].units) {
                unit = std::make_unique<Sim>();
                if (!unit->start(unitArguments))
                    return "a unit did not start";
                arguments << QStringLiteral("--port") << unit->path();
            }
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("PRADIX_PACE_SCALE"), QLatin1String(PaceScale));
            env.insert(QStringLiteral("PGAPPNAME"), QStringLiteral("runner%1").arg(r));
            runners[size_t(r)].process.setProcessEnvironment(env);
            runners[size_t(r)].process.start(QStringLiteral(PRADIX_TOOL_PATH), arguments);
        }
        // Runner 0 dies, runner 1 loses the server once, runner 2 lives.
        const int killAt = std::uniform_int_distribution<int>(300, 2500)(rng);
        const int cutAt = std::uniform_int_distribution<int>(300, 2500)(rng);
        bool killed = false, cut = false;
        QElapsedTimer took;
        took.start();
        while (took.elapsed() < RunLimitMs) {
            if (!killed && took.elapsed() >= killAt) {
                ::kill(pid_t(runners[0].process.processId()), SIGKILL);
                killed = true;
            }
            if (!cut && took.elapsed() >= cutAt) {
                server_.sql(database, QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                                     " WHERE application_name = 'runner1'"
                                                     " AND datname = current_database()"));
                cut = true;
            }
            bool running = false;
            for (Runner& runner : runners) {
                runner.process.waitForFinished(0);
                running = running || runner.process.state() != QProcess::NotRunning;
            }
            if (!running && killed && cut)
                break;
            QThread::msleep(20);
        }
        for (Runner& runner : runners)
            if (runner.process.state() != QProcess::NotRunning) {
                runner.process.kill();
                runner.process.waitForFinished(5000);
                return "a runner did not finish in time";
            }
        return check(database, runners, silent);
    }

    long doubleResults() const { return doubleResults_; }

private:
    std::string check(const QString& database, std::array<Runner, Runners>& runners, const QSet<QString>& silent)
    {
        if (runners[2].process.exitStatus() != QProcess::NormalExit || runners[2].process.exitCode() != (silent.isEmpty() ? 1 : 3))
            return "the runner that lived ended with " + std::to_string(runners[2].process.exitCode()) + ": "
                + runners[2].process.readAllStandardError().toStdString();
        std::unique_ptr<fleet::FleetStore> store;
        try {
            store = fleet::openStore(server_.url(database), fleet::OpenMode::Read);
            const std::optional<fleet::RunInfo> run = store->lastRun();
            if (!run || run->end != fleet::RunEnd::Finished)
                return "the run is not finished";
            std::string problem;
            for (const fleet::RunRow& row : store->runRows(run->id)) {
                const bool answers = !silent.contains(row.customer.number);
                const fleet::Outcome expected = answers ? fleet::Outcome::NoSummary : fleet::Outcome::Unreached;
                if (!row.outcome || *row.outcome != expected)
                    problem = row.customer.number.toStdString() + " has no final outcome, or not its box's";
                if (row.attempts > (answers ? 1 : 2))
                    ++doubleResults_;
            }
            if (!problem.empty())
                return problem;
        } catch (const fleet::StoreError& error) {
            return "the store cannot be read: " + error.message.toStdString();
        }
        // The killed runner's call in progress was made again by another.
        std::map<QString, int> dialsByOthers;
        for (int r = 1; r < Runners; ++r)
            for (const auto& unit : runners[size_t(r)].units) {
                const Calls calls = callsIn(unit->log());
                if (calls.leftUp)
                    return "a unit of a runner that lived was left with a call up: " + unit->log().toStdString();
                for (const auto& [number, count] : calls.dials)
                    dialsByOthers[number] += count;
            }
        for (const auto& unit : runners[0].units) {
            const Calls calls = callsIn(unit->log());
            if (calls.leftUp && dialsByOthers[calls.lastDialled] == 0)
                return "the killed runner's customer " + calls.lastDialled.toStdString() + " was not called again";
            if (calls.lineLeftOpen)
                return "the killed runner's unit " + unit->path().toStdString() + " never saw its line let go";
            if (!portFree(unit->path()))
                return "the killed runner's port " + unit->path().toStdString() + " was not let go";
        }
        return std::string();
    }

    const bench::PgServer& server_;
    QTemporaryDir folder_;
    long doubleResults_ = 0;
};

} // namespace

int runTeam(long cycles, unsigned seed, bool verbose)
{
    const bench::PgServer server;
    if (!server.ok()) {
        std::fprintf(stderr, "soak: the PostgreSQL server did not start\n");
        return 1;
    }
    std::mt19937 rng(seed);
    TeamSoak soak(server);
    long ok = 0;
    for (long n = 0; n < cycles; ++n) {
        const std::string problem = soak.cycle(n, rng);
        if (problem.empty())
            ++ok;
        else
            std::printf("cycle %ld: %s\n", n, problem.c_str());
        if (verbose)
            std::printf("cycle %ld done\n", n);
        std::fflush(stdout);
    }
    std::printf("BENCH soak_team_runs_ok %ld/%ld runs target all\n", ok, cycles);
    std::printf("BENCH soak_team_double_results %ld customers target 0\n", soak.doubleResults());
    return ok == cycles && soak.doubleResults() == 0 ? 0 : 1;
}

} // namespace soak
