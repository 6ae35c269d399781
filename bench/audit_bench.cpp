// The nightly audit against simulated dialling units, run as the timer runs
// `pradix-tool audit run`:
//   audit_overhead_ms   the audit's own time per session (book, store,
//                       comparison, progress), beyond the protocol's waits
//                       and the line: a run over many customers on a unit
//                       that answers at once, less the same run over a book
//                       whose one card has no number (the tool's start, the
//                       store's opening), less the waits left after scaling,
//                       per session. The unit's own look for the reopened
//                       port (up to 10 ms a step) is counted in, so this is
//                       an upper bound.
//   audit_ports_speedup the same customers called on two units against one,
//                       the line at the pace of 9600 baud and the protocol's
//                       waits scaled by one factor (PRADIX_PACE_SCALE), so a
//                       session is mostly line and wait as in the field.

#include "bench/SoakSupport.h"
#include "book/CustomerCard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

// The remote read's 5 s before its request, the only wait of a session without a prefix.
constexpr double CallSettleMs = 5000;
constexpr int OverheadCustomers = 40;
constexpr double OverheadScale = 0.001;
constexpr int SpeedupCustomers = 8;
constexpr double SpeedupScale = 0.1;

// A book of `count` customers whose cards hold the box's table (none: one card without a number).
bool writeBook(const QString& path, const QByteArray& image, int count)
{
    const TableGrid grid = soak::gridOf(image);
    QByteArray book;
    for (int i = 0; i < std::max(count, 1); ++i) {
        CustomerCard card;
        card.setText(CustomerCard::Field::Cognome, QStringLiteral("CLIENTE %1").arg(i + 1));
        if (count > 0)
            card.setText(CustomerCard::Field::Numero, QStringLiteral("0452%1").arg(i, 3, 10, QLatin1Char('0')));
        card.takeSummaryFrom(grid);
        book.append(reinterpret_cast<const char*>(card.data()), CustomerCard::Size);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(book) == book.size();
}

// One run on the units given, into a store of its own; its time in ms, or a negative number when it failed.
double auditMs(const QTemporaryDir& dir, const QString& book, const std::vector<soak::Sim*>& units, double scale,
               const QString& storeName)
{
    QStringList arguments { QStringLiteral("audit"), QStringLiteral("run"), QStringLiteral("--book"), book,
                            QStringLiteral("--store"), dir.filePath(storeName), QStringLiteral("--rounds"),
                            QStringLiteral("0"), QStringLiteral("-q") };
    for (soak::Sim* unit : units)
        arguments << QStringLiteral("--port") << unit->path();
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PRADIX_PACE_SCALE"), QString::number(scale));
    tool.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    tool.start(QStringLiteral(PRADIX_TOOL_PATH), arguments);
    if (!tool.waitForFinished(600000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        std::fprintf(stderr, "audit_bench: audit run failed (%d): %s\n", tool.exitCode(),
                     tool.readAllStandardError().constData());
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    soak::Sim reader;
    const QByteArray image = reader.start({ QStringLiteral("--fast") }) ? soak::fetchImage(reader.path()) : QByteArray();
    if (!dir.isValid() || image.isEmpty()) {
        std::fprintf(stderr, "audit_bench: the simulator did not serve its table\n");
        return 1;
    }
    const QString empty = dir.filePath(QStringLiteral("empty.dat"));
    const QString many = dir.filePath(QStringLiteral("many.dat"));
    const QString few = dir.filePath(QStringLiteral("few.dat"));
    if (!writeBook(empty, image, 0) || !writeBook(many, image, OverheadCustomers)
        || !writeBook(few, image, SpeedupCustomers)) {
        std::fprintf(stderr, "audit_bench: the books cannot be written\n");
        return 1;
    }

    // A unit that answers any number dialled, at once or at line pace.
    const QStringList unit { QStringLiteral("--unit"), QStringLiteral("--need-dial") };
    soak::Sim fast;
    if (!fast.start(unit + QStringList { QStringLiteral("--fast") }))
        return 1;
    // The fastest of three, as the machine is shared.
    double start = 1e9, run = 1e9;
    for (int i = 0; i < 3; ++i) {
        const double s = auditMs(dir, empty, { &fast }, OverheadScale, QStringLiteral("start%1.sqlite").arg(i));
        const double r = auditMs(dir, many, { &fast }, OverheadScale, QStringLiteral("many%1.sqlite").arg(i));
        if (s < 0 || r < 0)
            return 1;
        start = std::min(start, s);
        run = std::min(run, r);
    }
    const double overhead = (run - start) / OverheadCustomers - CallSettleMs * OverheadScale;
    std::printf("BENCH audit_overhead_ms %.1f ms target < 20\n", overhead);
    std::fflush(stdout);

    soak::Sim first, second;
    if (!first.start(unit) || !second.start(unit))
        return 1;
    const double one = auditMs(dir, few, { &first }, SpeedupScale, QStringLiteral("one.sqlite"));
    const double two = auditMs(dir, few, { &first, &second }, SpeedupScale, QStringLiteral("two.sqlite"));
    if (one < 0 || two < 0)
        return 1;
    std::printf("audit_bench: %d customers, waits scaled by %.1f, line at 9600 baud: one unit %.0f ms, two %.0f ms\n",
                SpeedupCustomers, SpeedupScale, one, two);
    std::printf("BENCH audit_ports_speedup %.2f x target >= 1.9\n", one / two);
    return 0;
}
