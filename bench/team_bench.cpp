// What a runner of a shared run pays the server per customer: one customer
// claimed (its row locked and skipped by the others, a lease written) and
// its session recorded with the claim's release, on a PostgreSQL server of
// the benchmark's own on this machine (a Unix socket, as the test run's).
#include "bench/PgServer.h"
#include "fleet/FleetStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

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
    } catch (const fleet::StoreError& error) {
        std::fprintf(stderr, "team_bench: %s\n", qPrintable(error.message));
        return 1;
    }
    return 0;
}
