// What the audit's readers ask of a big fleet store (10,000 boxes, a year of
// nightly runs: bench/FleetFixture.h): one box's history as `history` asks
// it, every box's state, and the rows of the last run. Each is timed on a
// store already open and read once (the page cache warm), the median of
// many: a reader that starts cold pays the disk once on top. On a machine
// shared with other work the times on the clock grow with its load; the
// processor time per call (`_cpu_ms`, the mean) does not, and is what an
// idle machine's clock would show but for the waits on the disk.
// Then what the audit pays the store per session: one session recorded
// (with its table, synced to the disk) on the disk the program was built on.
#include "bench/BenchSupport.h"
#include "bench/FleetFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// One run of 200 customers on a new store, every one called once.
double recordMs()
{
    QTemporaryDir folder(QCoreApplication::applicationDirPath() + QStringLiteral("/fleet-record-XXXXXX"));
    auto store = fleet::openStore(folder.filePath(QStringLiteral("fleet.sqlite")), fleet::OpenMode::Write);
    std::vector<fleet::SessionResult> sessions(200);
    std::vector<fleet::Customer> customers;
    for (int i = 0; i < int(sessions.size()); ++i) {
        fleet::SessionResult& s = sessions[size_t(i)];
        s.customer = { i + 1, QStringLiteral("COGNOME"), QStringLiteral("NOME"), bench::FleetFixture::number(i) };
        s.started = s.ended = QDateTime::currentDateTimeUtc();
        s.outcome = fleet::Outcome::Same;
        s.table = QByteArray(3584, char('0' + i % 10));
        customers.push_back(s.customer);
    }
    const qint64 run = store->startRun({ QStringLiteral("com2") }, customers, QDateTime::currentDateTimeUtc());
    return bench::timed(int(sessions.size()) - 1, [&](int i) { store->recordSession(run, sessions[size_t(i)]); }).medianMs;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::FleetFixture fixture = bench::fleetFixture();
    if (fixture.path.isEmpty())
        return 1;
    if (fixture.buildSeconds > 0)
        std::printf("BENCH fleet_fixture_build_s %.1f s target < 120\n", fixture.buildSeconds);
    try {
        auto store = fleet::openStore(fixture.path, fleet::OpenMode::Read);
        size_t seen = 0;
        const bench::Timing history = bench::timed(200, [&](int i) {
            seen += store->history(bench::FleetFixture::number(1 + (i * 7717) % fixture.boxes)).size();
        });
        const bench::Timing boxes = bench::timed(10, [&](int) { seen += store->boxes().size(); });
        const bench::Timing rows = bench::timed(5, [&](int) { seen += store->runRows(fixture.lastRun).size(); });
        if (seen != 201 * size_t(fixture.runs) + 11 * size_t(fixture.boxes) + 6 * size_t(fixture.boxes)) {
            std::fprintf(stderr, "fleet_store_bench: the store did not answer with the fixture's rows\n");
            return 1;
        }
        std::printf("BENCH audit_history_ms %.2f ms target < 10\n", history.medianMs);
        std::printf("BENCH audit_history_cpu_ms %.2f ms target < 10\n", history.cpuMs);
        std::printf("BENCH fleet_boxes_ms %.1f ms target < 100\n", boxes.medianMs);
        std::printf("BENCH fleet_boxes_cpu_ms %.1f ms target < 100\n", boxes.cpuMs);
        std::printf("BENCH fleet_run_rows_ms %.1f ms target < 1000\n", rows.medianMs);
        std::printf("BENCH fleet_record_ms %.2f ms target < 20\n", recordMs());
    } catch (const fleet::StoreError& error) {
        std::fprintf(stderr, "fleet_store_bench: %s\n", qPrintable(error.message));
        return 1;
    }
    return 0;
}
