// The audit's soak: each cycle one nightly run of `pradix-tool audit run`,
// started as the timer starts it, over a few customers of a book written for
// the run, with two dialling units on the line. The box behind each number
// answers with the card's table or another one, or never answers, is busy,
// cuts its table short, sends garbage first or answers with an error, picked
// at random per customer and run. One run is stopped (SIGTERM) at a random
// moment and taken up again with --resume.
//
// After every run: the tool's exit status is the one the outcomes call for;
// the store holds the run as finished, each customer's outcome as the box
// behaved, the last session on a port that called the customer, as many
// sessions as the units heard calls (a run stopped mid-call may have called
// once more than it recorded); each box's versions are tables it served in a
// good read, seen as many times as it was read whole, never one of a bad
// read; and in each unit's log every dial is followed by a hang-up.

#include "bench/AuditSoak.h"

#include "bench/SoakSupport.h"
#include "book/CustomerCard.h"
#include "fleet/FleetStore.h"
#include "tables/TableFile.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>

#include <algorithm>
#include <cstdio>
#include <map>

namespace soak {
namespace {

using fleet::Outcome;

enum class BoxFault { Ok, NoAnswer, Busy, Cut, Garbage, Error, Count };
const char* const BoxFaultWords[] = { "ok", "no-answer", "busy", "stop", "garbage", "error" };

constexpr int NumberPool = 8;
// The units' waits (5 s before a remote read) scaled down by the audit's
// pace seam; the line itself runs at once (--fast).
const char* const PaceScale = "0.02";
// A line silent this long is given up: the faults that never answer cost it.
const QString Timeout = QStringLiteral("1");
constexpr int RunLimitMs = 120000;
constexpr int ExitStopped = 143;

// The association cells of a table, the header (and with it the clock) left out.
QStringList associationsOf(QStringList cells)
{
    cells.erase(cells.begin(), cells.begin() + std::min<qsizetype>(cells.size(), TableGrid::ColumnCount - 1));
    return cells;
}

// One customer of a run: their card, their box and what the box does.
struct Planned
{
    QString number;
    bool cardHoldsTable = true;
    bool boxOther = false; // the box holds another table than the card's
    BoxFault fault = BoxFault::Ok;
    int count = 0; // bytes, for a table cut short and for garbage

    Outcome expected() const
    {
        switch (fault) {
        case BoxFault::Ok:
            return !cardHoldsTable ? Outcome::NoSummary : boxOther ? Outcome::Different : Outcome::Same;
        case BoxFault::Error:
            return Outcome::Refused;
        default:
            return Outcome::Unreached;
        }
    }
    QString unitArgument(const QString& otherImage) const
    {
        QString text = number + QLatin1Char(':') + QLatin1String(BoxFaultWords[int(fault)]);
        if (fault == BoxFault::Cut || fault == BoxFault::Garbage)
            text += QLatin1Char(':') + QString::number(count);
        if (boxOther)
            text += QLatin1Char(':') + otherImage;
        return text;
    }
};

// What a unit's log says of the calls: dials of each customer, and dials no
// hang-up followed (before the next dial, or at all).
struct Calls
{
    std::map<QString, int> dials;
    long leftOpen = 0;
};

Calls callsIn(const QByteArray& log, const QSet<QString>& numbers)
{
    Calls calls;
    bool open = false;
    for (const QByteArray& line : log.split('\n')) {
        const qsizetype dial = line.indexOf(" FRAME dial ");
        if (dial >= 0) {
            const QString number = QString::fromLatin1(line.mid(dial + 12)).section(QLatin1Char(' '), 0, 0);
            if (!numbers.contains(number))
                continue;
            if (open)
                ++calls.leftOpen;
            open = true;
            ++calls.dials[number];
        } else if (line.contains(" FRAME hangup")) {
            open = false;
        }
    }
    if (open)
        ++calls.leftOpen;
    return calls;
}

class AuditSoak
{
public:
    bool ready() const { return folder_.isValid(); }

    // The box's sample table, and another differing in one association.
    std::string prepare()
    {
        Sim reader;
        if (!reader.start({ QStringLiteral("--fast"), QStringLiteral("--model"), QStringLiteral("22") }))
            return "the simulator did not start";
        sample_ = fetchImage(reader.path());
        if (sample_.size() != codec::ImageSize)
            return "the simulator did not serve its table";
        TableGrid grid = gridOf(sample_);
        const codec::Model model = codec::modelOfByte(std::uint8_t(sample_.at(0)));
        int row = TableGrid::FirstDataRow + 1;
        while (row < TableGrid::RowCount && (grid.cell(1, row).isEmpty() || !grid.cell(1, row).at(0).isDigit()))
            ++row;
        if (row == TableGrid::RowCount)
            return "the sample table has no association with a prefix";
        grid.setCell(1, row, grid.cell(1, row) == QLatin1String("7") ? QStringLiteral("8") : QStringLiteral("7"));
        const codec::Record record = codec::encodeRecord(grid, row, model);
        other_ = sample_;
        std::copy(record.begin(), record.end(), other_.begin() + codec::RecordSize * (row - 1));
        sampleCells_ = associationsOf(cellsOf(sample_));
        if (associationsOf(cellsOf(other_)) == sampleCells_)
            return "the other table reads as the sample";
        QFile file(path(QStringLiteral("other.img")));
        if (!file.open(QIODevice::WriteOnly) || file.write(other_) != other_.size())
            return "the other table cannot be saved";
        return std::string();
    }

    // One run, stopped after `stopAfterMs` and resumed when that is not
    // negative and the run is still going then (`stopped` says whether it was).
    std::string cycle(std::mt19937& rng, int stopAfterMs, bool& stopped)
    {
        const std::vector<Planned> plan = planRun(rng);
        std::string problem = writeBook(plan);
        if (!problem.empty())
            return problem;
        QStringList unitArguments { QStringLiteral("--fast"), QStringLiteral("--unit") };
        QSet<QString> numbers;
        for (const Planned& p : plan) {
            unitArguments << QStringLiteral("--customer") << p.unitArgument(path(QStringLiteral("other.img")));
            numbers.insert(p.number);
        }
        std::array<Sim, 2> units;
        QStringList ports;
        for (Sim& unit : units) {
            if (!unit.start(unitArguments))
                return "a unit did not start";
            ports << QStringLiteral("--port") << unit.path();
        }

        int expectedCode = 0;
        for (const Planned& p : plan) {
            const Outcome o = p.expected();
            if (o == Outcome::Unreached || o == Outcome::Refused)
                expectedCode = 3;
            else if (expectedCode == 0 && o != Outcome::Same)
                expectedCode = 1;
        }

        QElapsedTimer took;
        took.start();
        bool signalled = false;
        int code = audit(ports, false, stopAfterMs, signalled);
        stopped = signalled && code == ExitStopped;
        if (stopped) {
            code = audit(ports, true, -1, signalled);
        } else if (signalled) {
            problem = "audit run stopped by SIGTERM gave " + std::to_string(code) + ", not 143: " + lastError_;
        }
        lastRunMs_ = took.elapsed();
        if (problem.empty() && code != expectedCode)
            problem = "audit run gave " + std::to_string(code) + ", not " + std::to_string(expectedCode) + ": "
                + lastError_;

        // The last hang-up may still be on its way to a unit when the tool has ended.
        std::array<Calls, 2> calls;
        (void)QTest::qWaitFor(
            [&] {
                for (std::size_t u = 0; u < units.size(); ++u)
                    calls[u] = callsIn(units[u].log(), numbers);
                return calls[0].leftOpen + calls[1].leftOpen == 0;
            },
            3000);
        for (const Calls& c : calls)
            callsLeftOpen_ += c.leftOpen;
        if (calls[0].leftOpen + calls[1].leftOpen)
            problem += (problem.empty() ? "" : "; ") + std::to_string(calls[0].leftOpen + calls[1].leftOpen)
                + " calls left open";

        for (const Planned& p : plan)
            if (p.expected() == Outcome::Same || p.expected() == Outcome::Different
                || p.expected() == Outcome::NoSummary)
                ++goodReads_[p.number];
        if (problem.empty())
            problem = checkStore(plan, calls, ports, stopped);
        if (!problem.empty()) {
            for (std::size_t u = 0; u < units.size(); ++u)
                problem += "\nunit " + std::to_string(u + 1) + " logged:\n" + units[u].log().toStdString();
        }
        return problem;
    }

    long callsLeftOpen() const { return callsLeftOpen_; }
    qint64 lastRunMs() const { return lastRunMs_; }

private:
    QString path(const QString& name) const { return folder_.filePath(name); }

    std::vector<Planned> planRun(std::mt19937& rng)
    {
        std::vector<int> pool(NumberPool);
        for (int i = 0; i < NumberPool; ++i)
            pool[std::size_t(i)] = i;
        std::shuffle(pool.begin(), pool.end(), rng);
        std::vector<Planned> plan(3 + rng() % 3);
        for (std::size_t i = 0; i < plan.size(); ++i) {
            Planned& p = plan[i];
            p.number = QStringLiteral("04510%1").arg(pool[i], 2, 10, QLatin1Char('0'));
            p.cardHoldsTable = rng() % 5 != 0;
            p.boxOther = rng() % 3 == 0;
            // A box that answers twice as often as any one fault.
            const int pick = int(rng() % (int(BoxFault::Count) + 1));
            p.fault = pick >= int(BoxFault::Count) ? BoxFault::Ok : BoxFault(pick);
            // Garbage of a whole table's length or more would line the table
            // up with a new start: less never does.
            if (p.fault == BoxFault::Cut)
                p.count = int(rng() % codec::ImageSize);
            else if (p.fault == BoxFault::Garbage)
                p.count = 1 + int(rng() % (codec::ImageSize - 1));
        }
        return plan;
    }

    std::string writeBook(const std::vector<Planned>& plan)
    {
        const TableGrid table = gridOf(sample_);
        QByteArray bytes;
        for (std::size_t i = 0; i < plan.size(); ++i) {
            CustomerCard card;
            card.setText(CustomerCard::Field::Cognome, QStringLiteral("CLIENTE %1").arg(i + 1));
            card.setText(CustomerCard::Field::Numero, plan[i].number);
            if (plan[i].cardHoldsTable)
                card.takeSummaryFrom(table);
            bytes.append(reinterpret_cast<const char*>(card.data()), CustomerCard::Size);
        }
        QFile book(path(QStringLiteral("RUBRICA.DAT")));
        if (!book.open(QIODevice::WriteOnly | QIODevice::Truncate) || book.write(bytes) != bytes.size())
            return "the book cannot be written";
        return std::string();
    }

    // One `audit run`, stopped with SIGTERM after stopAfterMs when that is
    // not negative and it is still going (`signalled`).
    int audit(const QStringList& ports, bool resume, int stopAfterMs, bool& signalled)
    {
        QStringList arguments { QStringLiteral("audit"), QStringLiteral("run") };
        arguments << ports << QStringLiteral("--book") << path(QStringLiteral("RUBRICA.DAT"))
                  << QStringLiteral("--store") << path(QStringLiteral("fleet.sqlite")) << QStringLiteral("--timeout")
                  << Timeout << QStringLiteral("--rounds") << QStringLiteral("1") << QStringLiteral("-q");
        if (resume)
            arguments << QStringLiteral("--resume");
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PRADIX_PACE_SCALE"), QLatin1String(PaceScale));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(PRADIX_TOOL_PATH), arguments);
        signalled = stopAfterMs >= 0 && !process.waitForFinished(stopAfterMs);
        if (signalled)
            process.terminate();
        return finishTool(process, RunLimitMs, lastError_);
    }

    std::string checkStore(const std::vector<Planned>& plan, const std::array<Calls, 2>& calls,
                           const QStringList& ports, bool stopped)
    {
        try {
            const std::unique_ptr<fleet::FleetStore> store
                = fleet::openStore(path(QStringLiteral("fleet.sqlite")), fleet::OpenMode::Read);
            const std::optional<fleet::RunInfo> run = store->lastRun();
            if (!run)
                return "the store holds no run";
            if (run->end != fleet::RunEnd::Finished)
                return "the run is stored as " + fleet::runEndWord(run->end).toStdString();
            const std::vector<fleet::RunRow> rows = store->runRows(run->id);
            if (rows.size() != plan.size())
                return "the run holds " + std::to_string(rows.size()) + " customers, not " + std::to_string(plan.size());
            for (const Planned& p : plan) {
                const std::string who = p.number.toStdString() + " (" + BoxFaultWords[int(p.fault)]
                    + (p.boxOther ? ", another table" : "") + (p.cardHoldsTable ? "" : ", card without table") + ")";
                const auto row = std::find_if(rows.begin(), rows.end(),
                                              [&](const fleet::RunRow& r) { return r.customer.number == p.number; });
                if (row == rows.end())
                    return who + " is not in the run";
                if (row->outcome != p.expected())
                    return who + " is stored as "
                        + (row->outcome ? fleet::outcomeWord(*row->outcome).toStdString() : "not called") + ", not "
                        + fleet::outcomeWord(p.expected()).toStdString();
                const int dials = calls[0].dials.count(p.number) ? calls[0].dials.at(p.number) : 0;
                const int dials2 = calls[1].dials.count(p.number) ? calls[1].dials.at(p.number) : 0;
                if (stopped ? dials + dials2 < row->attempts : dials + dials2 != row->attempts)
                    return who + ": " + std::to_string(row->attempts) + " sessions stored, "
                        + std::to_string(dials + dials2) + " calls heard by the units";
                const int unit = ports.indexOf(row->port);
                if (unit != 1 && unit != 3)
                    return who + ": stored on port " + row->port.toStdString() + ", not a unit's";
                if (!calls[std::size_t(unit / 2)].dials.count(p.number))
                    return who + ": stored on a unit that never called it";
                const std::string versions = checkVersions(*store, p.number);
                if (!versions.empty())
                    return who + ": " + versions;
            }
        } catch (const fleet::StoreError& error) {
            return "the store cannot be read: " + error.message.toStdString();
        }
        return std::string();
    }

    // Every version a table the box served whole, seen once per good read.
    std::string checkVersions(fleet::FleetStore& store, const QString& number)
    {
        int seen = 0;
        for (const fleet::Version& version : store.versions(number)) {
            seen += version.timesSeen;
            QFile file(path(QStringLiteral("version.dat")));
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(version.table) != version.table.size())
                return "a version cannot be looked at";
            file.close();
            TableGrid grid;
            if (!editor::loadTableFile(grid, file.fileName()).loaded())
                return "version " + std::to_string(version.id) + " is no table file";
            const QStringList cells = associationsOf(cellsOf(grid));
            if (cells != sampleCells_ && cells != associationsOf(cellsOf(other_)))
                return "version " + std::to_string(version.id) + " is no table the box served";
        }
        const int expected = goodReads_.count(number) ? goodReads_.at(number) : 0;
        if (seen != expected)
            return "its versions were seen " + std::to_string(seen) + " times, in " + std::to_string(expected)
                + " good reads";
        return std::string();
    }

    QTemporaryDir folder_;
    QByteArray sample_;
    QByteArray other_;
    QStringList sampleCells_;
    std::map<QString, int> goodReads_; // by number, over every run so far
    long callsLeftOpen_ = 0;
    qint64 lastRunMs_ = 0;
    std::string lastError_;
};

} // namespace

int runAudit(long cycles, unsigned seed, bool verbose)
{
    AuditSoak soak;
    const std::string prepared = soak.ready() ? soak.prepare() : "no temporary folder";
    if (!prepared.empty()) {
        std::fprintf(stderr, "soak: %s\n", prepared.c_str());
        return 1;
    }
    std::mt19937 rng(seed);
    // One run is stopped and resumed: the second (or the only one), or the
    // next if it ended before its stop came. The stop comes within the time
    // the run before took (a guess for the first).
    bool stopPending = true;
    long ok = 0;
    qint64 runMs = 3000;
    for (long i = 0; i < cycles; ++i) {
        const bool tryStop = stopPending && (i >= 1 || cycles == 1);
        const int stopAfter = tryStop ? 100 + int(rng() % std::max<qint64>(1, runMs * 7 / 10)) : -1;
        bool stopped = false;
        const std::string problem = soak.cycle(rng, stopAfter, stopped);
        if (stopped)
            stopPending = false;
        const char* how = stopped ? " (stopped and resumed)" : "";
        if (problem.empty())
            ++ok;
        else
            std::printf("soak: audit run %ld%s: %s\n", i + 1, how, problem.c_str());
        if (!stopped)
            runMs = soak.lastRunMs();
        if (verbose)
            std::printf("soak: audit run %ld%s took %lld ms\n", i + 1, how, static_cast<long long>(soak.lastRunMs()));
        std::fflush(stdout);
    }
    if (stopPending)
        std::printf("soak: every run ended before its stop came: none was resumed\n");
    std::printf("soak: seed %u\n", seed);
    std::printf("BENCH soak_audit_runs_ok %ld count target >= %ld\n", ok, cycles);
    std::printf("BENCH soak_audit_calls_left_open %ld count target <= 0\n", soak.callsLeftOpen());
    return ok == cycles && soak.callsLeftOpen() == 0 && !stopPending ? 0 : 1;
}

} // namespace soak
