// What the technician and monitoring ask of a big fleet store (10,000 boxes,
// a year of nightly runs: bench/FleetFixture.h): `audit status` (every box's
// state judged, the line and its JSON) and `audit report --html` of the last
// run (its rows read and the page made). Each on a store already open and
// read once, the median of several.
#include "bench/BenchSupport.h"
#include "bench/FleetFixture.h"
#include "fleet/FleetReport.h"
#include "fleet/FleetStatus.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::FleetFixture fixture = bench::fleetFixture();
    if (fixture.path.isEmpty())
        return 1;
    try {
        auto store = fleet::openStore(fixture.path, fleet::OpenMode::Read);
        fleet::FleetStatus status;
        const double statusMs = bench::medianMs(9, [&](int) {
            status = fleet::fleetStatus(store->boxes(), store->lastRun(), QDateTime::currentDateTimeUtc(), 2);
            fleet::statusLine(status);
            fleet::statusJson(status);
        });
        QByteArray page;
        const double reportMs = bench::medianMs(5, [&](int) {
            fleet::RunReport report;
            report.run = *store->run(fixture.lastRun);
            report.rows = store->runRows(report.run.id);
            page = fleet::reportHtml(report, QDateTime::currentDateTimeUtc());
        });
        // The work was done: every box judged, every customer on the page.
        if (status.boxes != fixture.boxes || page.count("<tr class=") != fixture.boxes) {
            std::fprintf(stderr, "audit_report_bench: %d boxes judged, %lld rows on the page, of %d\n", status.boxes,
                         qint64(page.count("<tr class=")), fixture.boxes);
            return 1;
        }
        std::printf("BENCH audit_status_ms %.1f ms target < 200\n", statusMs);
        std::printf("BENCH audit_report_ms %.1f ms target < 2000\n", reportMs);
        std::printf("audit report page %.1f MB for %d customers\n", double(page.size()) / 1e6, fixture.boxes);
    } catch (const fleet::StoreError& error) {
        std::fprintf(stderr, "audit_report_bench: %s\n", qPrintable(error.message));
        return 1;
    }
    return 0;
}
