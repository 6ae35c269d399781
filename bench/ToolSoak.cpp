// The tool's remote soak: each cycle one `pradix-tool remote read` or
// `remote write`, started as a script starts it, against a dialling unit
// that misbehaves in a way picked at random. The box's table lives on from
// cycle to cycle in an image file the simulator starts from and saves to.
//
// After every cycle: the tool's exit status is the one the fault calls for
// (0, or 3 for trouble on the line), the box holds the table written (a
// write that went through) or the one it had, never part of one, and the
// unit heard the hang-up 02 03 03 02 02 after the call, whatever went wrong.

#include "bench/ToolSoak.h"

#include "bench/SoakSupport.h"
#include "bench/UnitFaults.h"
#include "device/WritePlan.h"
#include "tables/TableFile.h"

#include <QProcess>

#include <array>
#include <cstdio>

namespace soak {
namespace {

// The faults of the unit's answers to a read, and of what it does with a table written.
bool readFault(Fault f) { return f == Fault::Truncation || f == Fault::HangUp || f == Fault::Garbage; }
bool writeFault(Fault f) { return f == Fault::StallWrite || f == Fault::ErrorReply; }

const QString Number = QStringLiteral("0451234567");
constexpr int ToolExitLine = 3;
// Line silence the tool waits out before it gives up (its --timeout).
const QString Timeout = QStringLiteral("1");
// Far beyond the longest session: the remote read's 5 s, a write at line pace, two time-outs.
constexpr int SessionLimitMs = 60000;

// The association cells of a table, the header (and with it the clock) left out.
QStringList associationsOf(QStringList cells)
{
    cells.erase(cells.begin(), cells.begin() + std::min<qsizetype>(cells.size(), TableGrid::ColumnCount - 1));
    return cells;
}

class ToolSoak
{
public:
    bool ready() const { return folder_.isValid(); }
    UnitBox& box() { return box_; }

    // The box's own table as a script would keep it (read with the tool
    // itself), and a second one differing in one association, so every
    // write changes what the box holds.
    std::string prepare()
    {
        Sim box;
        if (!box.start({ QStringLiteral("--fast"), QStringLiteral("--model"), QStringLiteral("22") }))
            return "the simulator did not start";
        const QString first = path(QStringLiteral("a.dat"));
        const int code = tool({ QStringLiteral("read"), QStringLiteral("--port"), box.path(), QStringLiteral("-q"),
                                QStringLiteral("-o"), first });
        if (code != 0)
            return "pradix-tool read gave " + std::to_string(code);
        TableGrid grid;
        if (!editor::loadTableFile(grid, first).loaded())
            return "the table read cannot be loaded";
        tables_[0] = grid;
        int row = TableGrid::FirstDataRow + 1;
        while (row < TableGrid::RowCount && (grid.cell(1, row).isEmpty() || !grid.cell(1, row).at(0).isDigit()))
            ++row;
        if (row == TableGrid::RowCount)
            return "the box's table has no association with a prefix";
        grid.setCell(1, row, grid.cell(1, row) == QLatin1String("7") ? QStringLiteral("8") : QStringLiteral("7"));
        tables_[1] = grid;
        for (int i = 0; i < 2; ++i) {
            if (!writeplan::plan(tables_[i], { 1, QString(), QString() }).ok())
                return "the table to write is refused";
            if (!editor::saveTableFile(tables_[i], tablePath(i)).saved())
                return "the table to write cannot be saved";
        }
        return std::string();
    }

    // One session; an empty result means it went as it must.
    std::string cycle(Fault fault, std::mt19937& rng)
    {
        int n = 0;
        const QStringList arguments = unitArguments(box_.statePath(), box_.imagePath(), fault, rng, n);
        const bool write = writeFault(fault) || (!readFault(fault) && rng() % 2);
        const QByteArray boxBefore = box_.image();
        Sim box;
        if (!box.start(arguments))
            return "the simulator did not start";

        QStringList command { QStringLiteral("remote"), QLatin1String(write ? "write" : "read") };
        const int table = written_ ^ 1; // never what the box holds already
        if (write)
            command << tablePath(table);
        else
            command << QStringLiteral("-o") << path(QStringLiteral("read.dat"));
        command << QStringLiteral("--port") << box.path() << QStringLiteral("--number") << Number
                << QStringLiteral("--timeout") << Timeout << QStringLiteral("-q");
        QFile::remove(path(QStringLiteral("read.dat")));
        const int code = tool(command);
        const int expected = fault == Fault::None ? 0 : ToolExitLine;

        std::string problem;
        // The unit may still be taking the last bytes in when the tool has ended.
        const bool hungUp = QTest::qWaitFor([&] { return hangUpAfterDial(box.log()); }, 5000);
        const QByteArray log = box.log();
        box.stop();
        if (!hungUp) {
            ++hangUpsMissing_;
            problem = "the unit never heard the hang-up after the call";
        } else if (code != expected) {
            problem = "pradix-tool " + command.mid(0, 2).join(QLatin1Char(' ')).toStdString() + " gave "
                + std::to_string(code) + ", not " + std::to_string(expected) + ": " + lastError_;
        }
        if (problem.empty() && !write && fault == Fault::None)
            problem = checkRead();
        const std::string held = checkBox(write && fault == Fault::None ? table : -1, boxBefore);
        if (!held.empty())
            problem = held + (problem.empty() ? "" : "; " + problem);
        else if (write && fault == Fault::None)
            written_ = table;
        if (!problem.empty())
            problem = std::string(write ? "write: " : "read: ") + problem + "; the unit logged:\n" + log.toStdString();
        return problem;
    }

    long hangUpsMissing() const { return hangUpsMissing_; }

private:
    QString path(const QString& name) const { return folder_.filePath(name); }
    QString tablePath(int i) const { return path(QStringLiteral("table%1.dat").arg(i)); }

    int tool(const QStringList& arguments)
    {
        QProcess process;
        process.start(QStringLiteral(PRADIX_TOOL_PATH), arguments);
        return finishTool(process, SessionLimitMs, lastError_);
    }

    // A hang-up frame after the last dial, or no dial at all.
    static bool hangUpAfterDial(const QByteArray& log)
    {
        const qsizetype dial = log.lastIndexOf("FRAME dial");
        return dial < 0 || log.indexOf("FRAME hangup", dial) >= 0;
    }

    std::string checkRead()
    {
        TableGrid grid;
        if (!editor::loadTableFile(grid, path(QStringLiteral("read.dat"))).loaded())
            return "the table read was not saved";
        if (associationsOf(cellsOf(grid)) != associationsOf(cellsOf(box_.image())))
            return "the table read differs from the box's";
        return std::string();
    }

    // `table` the box must now hold, or -1 for the one it had.
    std::string checkBox(int table, const QByteArray& before)
    {
        const QByteArray after = box_.image();
        const std::string problem = checkUnitBox(box_.statePath(), table >= 0, before, after);
        if (problem.empty() && table >= 0
            && associationsOf(cellsOf(after)) != associationsOf(cellsOf(tables_[size_t(table)])))
            return "the box holds other than the table written";
        return problem;
    }

    QTemporaryDir folder_;
    UnitBox box_ { folder_ };
    std::array<TableGrid, 2> tables_;
    int written_ = 0; // the box starts with table 0
    long hangUpsMissing_ = 0;
    std::string lastError_;
};

} // namespace

int runTool(long cycles, unsigned seed, const std::vector<std::string>& faults, bool verbose)
{
    std::vector<Fault> pick;
    if (!pickFaults(faults, "tool", pick))
        return 2;

    ToolSoak soak;
    if (!soak.ready() || !soak.box().learnSample()) {
        std::fprintf(stderr, "soak: the simulator did not serve its table\n");
        return 1;
    }
    const std::string prepared = soak.prepare();
    if (!prepared.empty()) {
        std::fprintf(stderr, "soak: %s\n", prepared.c_str());
        return 1;
    }
    std::mt19937 rng(seed);
    const long ok = runFaultCycles(cycles, pick, rng, "tool", [&](Fault fault) { return soak.cycle(fault, rng); },
                                   [&](long cycle, Fault fault) {
                                       if (verbose)
                                           std::printf("soak: tool cycle %ld %s done\n", cycle, faultName(fault));
                                   });
    std::printf("soak: seed %u\n", seed);
    std::printf("BENCH soak_tool_cycles_ok %ld count target >= %ld\n", ok, cycles);
    std::printf("BENCH soak_tool_hangups_missing %ld count target <= 0\n", soak.hangUpsMissing());
    return ok == cycles && soak.hangUpsMissing() == 0 ? 0 : 1;
}

} // namespace soak
