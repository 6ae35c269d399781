// What the audit's readers ask of a big fleet store (10,000 boxes, a year of
// nightly runs: bench/FleetFixture.h): one box's history as `history` asks
// it, every box's state, and the rows of the last run. Each is timed on a
// store already open and read once (the page cache warm), the median of
// many: a reader that starts cold pays the disk once on top.
#include "bench/FleetFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double medianMs(int times, const std::function<void(int)>& work)
{
    work(0);
    std::vector<double> spent;
    for (int i = 1; i <= times; ++i) {
        QElapsedTimer timer;
        timer.start();
        work(i);
        spent.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(spent.begin(), spent.end());
    return spent[spent.size() / 2];
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
        const double history = medianMs(200, [&](int i) {
            seen += store->history(bench::FleetFixture::number(1 + (i * 7717) % fixture.boxes)).size();
        });
        const double boxes = medianMs(10, [&](int) { seen += store->boxes().size(); });
        const double rows = medianMs(5, [&](int) { seen += store->runRows(fixture.lastRun).size(); });
        if (seen != 201 * size_t(fixture.runs) + 11 * size_t(fixture.boxes) + 6 * size_t(fixture.boxes)) {
            std::fprintf(stderr, "fleet_store_bench: the store did not answer with the fixture's rows\n");
            return 1;
        }
        std::printf("BENCH audit_history_ms %.2f ms target < 10\n", history);
        std::printf("BENCH fleet_boxes_ms %.1f ms target < 100\n", boxes);
        std::printf("BENCH fleet_run_rows_ms %.1f ms target < 1000\n", rows);
    } catch (const fleet::StoreError& error) {
        std::fprintf(stderr, "fleet_store_bench: %s\n", qPrintable(error.message));
        return 1;
    }
    return 0;
}
