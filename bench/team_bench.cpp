// A shared run on a PostgreSQL server of the benchmark's own on this machine
// (a Unix socket, as the test run's):
//   team_claim_ms     what a runner pays the server per customer: one
//                     customer claimed (its row locked and skipped by the
//                     others, a lease written) and its session recorded with
//                     the claim's release.
//   team_scaling      customers per minute of three runners with two units
//                     each (`audit run --join`) against one runner with two
//                     units, the line at the pace of 9600 baud and the
//                     protocol's waits scaled by one factor
//                     (PRADIX_PACE_SCALE), so a session is mostly line and
//                     wait as in the field.
//   team_status_ms    `audit status` (every box's state judged, the line and
//                     its JSON) on the server, over 10,000 boxes called every
//                     night for a year: the fleet fixture's rows, made by the
//                     server itself; the median of several.
// The server keeps the settings of a freshly installed one: every commit
// waits for the disk, as in an office.
#include "bench/BenchSupport.h"
#include "bench/FleetFixture.h"
#include "bench/PgServer.h"
#include "bench/SoakSupport.h"
#include "book/CustomerCard.h"
#include "fleet/FleetStatus.h"
#include "fleet/FleetStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int ScalingCustomers = 24;
constexpr double ScalingPace = 0.1;
constexpr int StatusBoxes = 10000;
constexpr int StatusNights = 365;

// A book of `count` customers with numbers and fresh cards (no table).
bool writeBook(const QString& path, int count)
{
    QByteArray book;
    for (int i = 0; i < count; ++i) {
        CustomerCard card;
        card.setText(CustomerCard::Field::Cognome, QStringLiteral("CLIENTE %1").arg(i + 1));
        card.setText(CustomerCard::Field::Numero, QStringLiteral("0463%1").arg(i + 1, 3, 10, QLatin1Char('0')));
        book.append(reinterpret_cast<const char*>(card.data()), CustomerCard::Size);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(book) == book.size();
}

// One shared run of `runners` runners with two units each, into `database`;
// its time in ms, or a negative number when it failed or left a customer
// without its outcome.
double sharedRunMs(const bench::PgServer& server, const QString& database, const QString& book, int runners)
{
    if (!server.createDatabase(database))
        return -1;
    std::vector<std::unique_ptr<soak::Sim>> units;
    std::vector<std::unique_ptr<QProcess>> tools;
    std::vector<QStringList> arguments;
    for (int r = 0; r < runners; ++r) {
        QStringList args { QStringLiteral("audit"), QStringLiteral("run"), QStringLiteral("--join"),
                           QStringLiteral("--book"), book, QStringLiteral("--store"), server.url(database),
                           QStringLiteral("--rounds"), QStringLiteral("0"), QStringLiteral("-q") };
        for (int u = 0; u < 2; ++u) {
            units.push_back(std::make_unique<soak::Sim>());
            if (!units.back()->start({ QStringLiteral("--unit"), QStringLiteral("--need-dial") }))
                return -1;
            args << QStringLiteral("--port") << units.back()->path();
        }
        arguments.push_back(args);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PRADIX_PACE_SCALE"), QString::number(ScalingPace));
    QElapsedTimer timer;
    timer.start();
    for (const QStringList& args : arguments) {
        tools.push_back(std::make_unique<QProcess>());
        tools.back()->setProcessEnvironment(environment);
        tools.back()->start(QStringLiteral(PRADIX_TOOL_PATH), args);
    }
    for (auto& tool : tools) {
        // Every card is fresh, so every customer ends "senza riepilogo" (exit 1).
        if (!tool->waitForFinished(600000) || tool->exitStatus() != QProcess::NormalExit || tool->exitCode() != 1) {
            std::fprintf(stderr, "team_bench: a runner ended with %d: %s\n", tool->exitCode(),
                         tool->readAllStandardError().constData());
            return -1;
        }
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    auto store = fleet::openStore(server.url(database), fleet::OpenMode::Read);
    const std::optional<fleet::RunInfo> run = store->lastRun();
    if (!run || run->end != fleet::RunEnd::Finished)
        return -1;
    int done = 0;
    for (const fleet::RunRow& row : store->runRows(run->id))
        done += row.outcome == fleet::Outcome::NoSummary ? 1 : 0;
    if (done != ScalingCustomers) {
        std::fprintf(stderr, "team_bench: %d customers of %d have their outcome\n", done, ScalingCustomers);
        return -1;
    }
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::PgServer server;
    if (!server.ok() || !server.createDatabase(QStringLiteral("bench"))) {
        std::fprintf(stderr, "team_bench: the PostgreSQL server did not start\n");
        return 1;
    }
    try {
        auto store = fleet::openStore(server.url(QStringLiteral("bench")), fleet::OpenMode::Write);
        const int customers = 400;
        std::vector<fleet::Customer> list;
        for (int i = 0; i < customers; ++i)
            list.push_back({ i + 1, QStringLiteral("COGNOME"), QStringLiteral("NOME"),
                             QStringLiteral("0461%1").arg(i, 4, 10, QLatin1Char('0')) });
        const qint64 run = store->startRun({ QStringLiteral("com1") }, list, QDateTime::currentDateTimeUtc());
        std::vector<double> spent;
        while (true) {
            QElapsedTimer timer;
            timer.start();
            const std::optional<fleet::Claim> claim = store->claimNext(run, 2, 300000);
            if (!claim)
                break;
            fleet::SessionResult result;
            result.customer = claim->customer;
            result.port = QStringLiteral("com1");
            result.started = result.ended = QDateTime::currentDateTimeUtc();
            result.outcome = fleet::Outcome::Same;
            result.table = QByteArray(3584, char('0' + claim->position % 10));
            if (!store->recordClaimed(run, *claim, result, 60000)) {
                std::fprintf(stderr, "team_bench: a claim was lost\n");
                return 1;
            }
            spent.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        store->endRun(run, fleet::RunEnd::Finished, QDateTime::currentDateTimeUtc());
        if (int(spent.size()) != customers) {
            std::fprintf(stderr, "team_bench: %zu customers claimed of %d\n", spent.size(), customers);
            return 1;
        }
        std::sort(spent.begin(), spent.end());
        std::printf("BENCH team_claim_ms %.2f ms target < 10\n", spent[spent.size() / 2]);
        std::fflush(stdout);

        QTemporaryDir dir;
        const QString book = dir.filePath(QStringLiteral("RUBRICA.DAT"));
        if (!dir.isValid() || !writeBook(book, ScalingCustomers)) {
            std::fprintf(stderr, "team_bench: the book cannot be written\n");
            return 1;
        }
        const double one = sharedRunMs(server, QStringLiteral("alone"), book, 1);
        const double three = sharedRunMs(server, QStringLiteral("shared"), book, 3);
        if (one < 0 || three < 0)
            return 1;
        std::printf("team_bench: %d customers, line at 9600 baud, waits scaled by %.1f (PRADIX_PACE_SCALE):"
                    " 1 runner x 2 units %.0f ms, 3 runners x 2 units %.0f ms\n",
                    ScalingCustomers, ScalingPace, one, three);
        std::printf("BENCH team_scaling %.2f x target >= 2.8\n", one / three);
        std::fflush(stdout);

        if (!server.createDatabase(QStringLiteral("fleet")))
            return 1;
        const double fillSeconds = bench::fillServer(server.url(QStringLiteral("fleet")), StatusBoxes, StatusNights);
        if (fillSeconds < 0)
            return 1;
        auto fleetStore = fleet::openStore(server.url(QStringLiteral("fleet")), fleet::OpenMode::Read);
        fleet::FleetStatus status;
        const double statusMs = bench::medianMs(9, [&](int) {
            status = fleet::fleetStatus(fleetStore->boxes(), fleetStore->lastRun(), QDateTime::currentDateTimeUtc(), 2);
            fleet::statusLine(status);
            fleet::statusJson(status);
        });
        if (status.boxes != StatusBoxes || !status.lastRun || status.lastRun->id != StatusNights) {
            std::fprintf(stderr, "team_bench: %d boxes judged of %d\n", status.boxes, StatusBoxes);
            return 1;
        }
        std::printf("team_bench: %d boxes, %d nights made on the server in %.0f s\n", StatusBoxes, StatusNights,
                    fillSeconds);
        std::printf("BENCH team_status_ms %.1f ms target < 300\n", statusMs);
    } catch (const fleet::StoreError& error) {
        std::fprintf(stderr, "team_bench: %s\n", qPrintable(error.message));
        return 1;
    }
    return 0;
}
