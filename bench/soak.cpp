// A long session against a misbehaving box: CYCLES cycles, each a read
// against a box simulator that misbehaves in a way picked at random, then a
// write of an edited table to a well-behaved one, the real main window driven
// offscreen through its buttons, no pauses on either side. After every read
// the window must be idle again and the grid must hold either the box's table
// exactly (a read that completed) or what it held before (a read that was
// stopped or failed); after every write the box must hold the table written.
// After the last cycle a plain read must still give the table exactly, and the
// process must hold no more descriptors, threads or memory than after the
// first few cycles.
//
//   soak CYCLES [--remote|--tool|--audit] [--seed N] [--fault NAME]... [--verbose]
//
// --fault keeps to one fault (its name as printed), to find what a growth comes from;
// remote cycles take several and pick among them. --remote runs remote sessions
// through the address book instead (bench/RemoteSoak.cpp says what), --tool
// remote sessions of pradix-tool (bench/ToolSoak.cpp says what), --audit
// nightly audits of pradix-tool over two units (bench/AuditSoak.cpp says what).
//
// Prints one line per failed cycle (with what the box logged), a count per
// fault, and BENCH lines.

#include "app/Application.h"
#include "app/Program.h"
#include "bench/RemoteSoak.h"
#include "bench/SoakSupport.h"
#include "bench/ToolSoak.h"
#include "bench/AuditSoak.h"
#include "tests/common/PrivateFolders.h"
#include "widgets/ALed.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using namespace soak;

// "Scrivi Eeprom" is the window's Button4Click; a build without it soaks reads only.
template <typename Window, typename = void>
struct HasWrite : std::false_type
{
};
template <typename Window>
struct HasWrite<Window, std::void_t<decltype(&Window::Button4Click)>> : std::true_type
{
};
constexpr bool writesAvailable = HasWrite<TfrmMain>::value;

enum class Fault { None, Silence, Truncation, HangUp, ErrorReply, Garbage, SecondRead, Count };

const char* faultName(Fault f)
{
    static const char* names[] = { "none", "silence", "truncation", "hang-up", "error-reply", "garbage", "second-read" };
    return names[int(f)];
}

class Soak : public MainWindowDriver
{
public:
    Soak(Program& program, SoakDialogs& dialogs)
        : MainWindowDriver(program.frmMain)
        , program_(program)
        , dialogs_(dialogs)
        , EditDevName_(window_.findChild<QLineEdit*>(QStringLiteral("EditDevName")))
        , ButtonTransmit_(window_.findChild<QPushButton*>(QStringLiteral("ButtonTransmit")))
        , ButtonReset_(window_.findChild<QPushButton*>(QStringLiteral("ButtonReset")))
        , Button4_(window_.findChild<QPushButton*>(QStringLiteral("Button4")))
        , Label9_(program.form2.findChild<QLabel*>(QStringLiteral("Label9")))
    {
    }

    bool ready() const
    {
        return driverReady() && EditDevName_ && ButtonTransmit_ && ButtonReset_ && Button4_ && Label9_;
    }

    // The table each model's simulator serves.
    bool learnTables()
    {
        for (int model : { 22, 1 }) {
            Sim sim;
            if (!sim.start({ QStringLiteral("--fast"), QStringLiteral("--model"), QString::number(model) }))
                return false;
            const QByteArray image = fetchImage(sim.path());
            if (image.isEmpty() || image.at(0) != (model == 22 ? 'U' : 'Y'))
                return false;
            (model == 22 ? table22_ : table1_) = cellsOf(image);
        }
        return true;
    }

    // One cycle; an empty result means it went as it must.
    std::string cycle(Fault fault, int model, std::mt19937& rng)
    {
        QStringList arguments { QStringLiteral("--fast"), QStringLiteral("--model"), QString::number(model) };
        int n = 0;
        switch (fault) {
        case Fault::Silence:
            arguments << QStringLiteral("--fault") << QStringLiteral("silent");
            break;
        case Fault::Truncation:
            arguments << stopFault(rng, n);
            break;
        case Fault::HangUp:
            n = int(rng() % codec::ImageSize);
            arguments << QStringLiteral("--fault") << QStringLiteral("hangup:%1").arg(n);
            break;
        case Fault::ErrorReply:
            arguments << QStringLiteral("--fault") << QStringLiteral("error");
            break;
        case Fault::Garbage:
            arguments << garbageFault(rng, n);
            break;
        default:
            break;
        }
        Sim sim;
        if (!sim.start(arguments))
            return "the simulator did not start";
        EditDevName_->setText(sim.path());
        const QStringList& table = model == 22 ? table22_ : table1_;
        const QStringList before = cellsOf(window_.grid());
        const int shownBefore = dialogs_.count;
        std::string problem;

        switch (fault) {
        case Fault::None:
            // From an empty grid, so nothing of an earlier read can pass for this one.
            click(ButtonReset_);
            click(ButtonTransmit_);
            if (!waitIdle())
                problem = "the read did not end";
            else if (cellsOf(window_.grid()) != table)
                problem = "the table read differs from the box's";
            break;
        case Fault::Silence:
            click(ButtonTransmit_);
            QTest::qWait(20);
            problem = stopWaiting(before);
            break;
        case Fault::Truncation:
            click(ButtonTransmit_);
            if (!QTest::qWaitFor([&] { return window_.receiveBuffer().position() == n; }, 20000))
                problem = "the bytes sent did not all arrive";
            else
                problem = stopWaiting(before);
            break;
        case Fault::HangUp:
            click(ButtonTransmit_);
            if (!QTest::qWaitFor([&] { return !window_.exchange().port().Enabled(); }, 30000)) {
                problem = "a hung-up line left the port open";
                break;
            }
            QTest::qWait(20); // late events must not add a message
            if (dialogs_.count != shownBefore + 1
                || dialogs_.last != QLatin1String("Serial error: Read error (Error: 5) "))
                problem = "a hang-up was not reported once as a read error";
            else if (cellsOf(window_.grid()) != before)
                problem = "a hang-up changed the grid";
            click(Button1_);
            if (problem.empty() && !idle())
                problem = "\"Stop\" after a hang-up did not bring the window back";
            break;
        case Fault::ErrorReply:
            Label9_->clear();
            click(ButtonTransmit_);
            if (!waitIdle())
                problem = "an error reply did not end the wait";
            else if (Label9_->text() != QLatin1String("ERRORE!!"))
                problem = "an error reply was not shown";
            else if (cellsOf(window_.grid()) != before)
                problem = "an error reply changed the grid";
            break;
        case Fault::Garbage: {
            click(ButtonTransmit_);
            const int last = garbageEnd(n);
            if (!QTest::qWaitFor([&] { return window_.receiveBuffer().position() == last; }, 20000)) {
                problem = "the garbage and the table did not all arrive";
            } else {
                problem = stopWaiting(before);
            }
            break;
        }
        case Fault::SecondRead:
            click(ButtonTransmit_);
            click(ButtonTransmit_);
            if (dialogs_.count != shownBefore + 1
                || dialogs_.last != QLatin1String("Serial error: Port already assigned (open) (Error: -1) "))
                problem = "a second read while waiting was not refused";
            else if (!waitIdle())
                problem = "the first read did not go on after the second was refused";
            else if (cellsOf(window_.grid()) != table)
                problem = "the table read differs from the box's";
            break;
        default:
            break;
        }
        const int expectedMessages = fault == Fault::HangUp || fault == Fault::SecondRead ? 1 : 0;
        if (problem.empty() && dialogs_.count != shownBefore + expectedMessages)
            problem = "unexpected message: " + dialogs_.last.toStdString();
        if (!problem.empty()) {
            // Leave the window idle for the next cycle whatever happened.
            click(Button1_);
            problem += "; the box logged:\n" + sim.log().toStdString();
        }
        if (problem.empty() && (fault == Fault::None || fault == Fault::SecondRead))
            holdsTable_ = true;
        sim.stop();
        return problem;
    }

    // The write half of a cycle: two associations of the table in the grid
    // swap places, "Scrivi Eeprom" sends it to a fresh box, and the table the
    // box then serves, read straight off its line, must be the grid's. The
    // swaps add up over the cycles, so each write sends a table the boxes
    // never held.
    std::string write(int model, std::mt19937& rng)
    {
        if (!holdsTable_)
            return std::string();
        TableGrid& grid = window_.grid();
        const int a = TableGrid::FirstDataRow + 1 + int(rng() % (TableGrid::RowCount - TableGrid::FirstDataRow - 1));
        const int b = TableGrid::FirstDataRow + 1 + int(rng() % (TableGrid::RowCount - TableGrid::FirstDataRow - 1));
        for (int c = 1; c < TableGrid::ColumnCount; ++c) {
            const QString kept = grid.cell(c, a);
            grid.setCell(c, a, grid.cell(c, b));
            grid.setCell(c, b, kept);
        }
        Sim sim;
        if (!sim.start({ QStringLiteral("--fast"), QStringLiteral("--model"), QString::number(model) }))
            return "the simulator did not start";
        EditDevName_->setText(sim.path());
        const int shownBefore = dialogs_.count;
        const QStringList written = cellsOf(grid);
        click(Button4_);
        std::string problem;
        if (!waitIdle())
            problem = "the write did not end";
        else if (dialogs_.count != shownBefore)
            problem = "unexpected message: " + dialogs_.last.toStdString();
        // The box empties its line when it sees the port closed; a request
        // sent before that would be swept away with the rest.
        // (A write quicker than the box's look at its line is taken whole while closed.)
        else if (!QTest::qWaitFor(
                     [&] {
                         const QByteArray log = sim.log();
                         return log.contains("line closed by the other end")
                             || log.contains("closed again by the other end");
                     },
                     10000))
            problem = "the box never saw the port closed after the write";
        else {
            const QByteArray held = fetchImage(sim.path());
            if (held.isEmpty())
                problem = "the box did not serve its table after the write";
            else if (cellsOf(held) != written)
                problem = "the box holds other than the table written";
        }
        if (!problem.empty()) {
            click(Button1_);
            problem += "; the box logged:\n" + sim.log().toStdString();
        }
        sim.stop();
        return problem;
    }

private:
    Program& program_;
    SoakDialogs& dialogs_;
    QLineEdit* EditDevName_;
    QPushButton* ButtonTransmit_;
    QPushButton* ButtonReset_;
    QPushButton* Button4_;
    QLabel* Label9_;
    QStringList table22_;
    QStringList table1_;
    bool holdsTable_ = false; // the grid holds a whole table read from a box
};

} // namespace

int main(int argc, char** argv)
{
    // The soak reads and writes tables through the program's own code, which
    // keeps backups and the line log: in a folder of the run's own, however
    // it is started (scripts/soak, or ctest's short run).
    const QTemporaryDir folders;
    if (!testfolders::usePrivateFolders(folders, "soak"))
        return 1;
    TApplication app(argc, argv);
    long cycles = 0;
    unsigned seed = 1;
    bool verbose = false;
    bool remote = false;
    bool tool = false;
    bool audit = false;
    std::vector<std::string> faults;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = unsigned(std::strtoul(argv[++i], nullptr, 10));
        else if (!std::strcmp(argv[i], "--fault") && i + 1 < argc)
            faults.emplace_back(argv[++i]);
        else if (!std::strcmp(argv[i], "--verbose"))
            verbose = true;
        else if (!std::strcmp(argv[i], "--remote"))
            remote = true;
        else if (!std::strcmp(argv[i], "--tool"))
            tool = true;
        else if (!std::strcmp(argv[i], "--audit"))
            audit = true;
        else
            cycles = std::strtol(argv[i], nullptr, 10);
    }
    if (cycles <= 0 || cycles > 1000000) {
        std::fprintf(stderr, "usage: soak CYCLES [--remote|--tool|--audit] [--seed N] [--fault NAME]... [--verbose]\n");
        return 2;
    }
    if (audit) {
        if (!faults.empty()) {
            std::fprintf(stderr, "soak: the audit's runs pick their faults per customer: no --fault\n");
            return 2;
        }
        return soak::runAudit(cycles, seed, verbose);
    }
    if (tool)
        return soak::runTool(cycles, seed, faults, verbose);
    int only = -1;
    if (!remote && !faults.empty()) {
        for (int f = 0; f < int(Fault::Count); ++f)
            if (faults.size() == 1 && faults[0] == faultName(Fault(f)))
                only = f;
        if (only < 0) {
            std::fprintf(stderr, "soak: no fault %s (local cycles keep to one)\n", faults.back().c_str());
            return 2;
        }
    }

    SoakDialogs dialogs;
    NoPacer pacer;
    SilentBeeper beeper;
    Seams seams = realSeams();
    seams.dialogs = &dialogs;
    seams.pacer = &pacer;
    seams.beeper = &beeper;
    Program program(seams);
    program.frmMain.show();
    if (remote)
        return soak::runRemote(program, dialogs, pacer, cycles, seed, faults, verbose);
    Soak soak(program, dialogs);
    if (!soak.ready()) {
        std::fprintf(stderr, "soak: the windows lack a control the soak drives\n");
        return 1;
    }
    if (!soak.learnTables()) {
        std::fprintf(stderr, "soak: the simulator did not serve its tables\n");
        return 1;
    }

    std::mt19937 rng(seed);
    // A few plain cycles first: caches of the toolkit fill on first use.
    for (int i = 0; i < 3; ++i) {
        const std::string problem = soak.cycle(Fault::None, i % 2 ? 1 : 22, rng);
        if (!problem.empty()) {
            std::fprintf(stderr, "soak: warm-up read failed: %s\n", problem.c_str());
            return 1;
        }
    }
    QTest::qWait(300); // the last monitoring thread ends by itself
    const int fdBefore = entries("/proc/self/fd");
    const int threadsBefore = entries("/proc/self/task");
    const long rssBefore = rssKb();
    const long heapBefore = heapKb();

    long ok = 0;
    long writes = 0;
    long writesOk = 0;
    std::array<long, int(Fault::Count)> runs {};
    std::array<long, int(Fault::Count)> passed {};
    for (long i = 0; i < cycles; ++i) {
        auto fault = Fault(rng() % unsigned(Fault::Count));
        if (only >= 0)
            fault = Fault(only);
        const int model = rng() % 2 ? 22 : 1;
        std::string problem = soak.cycle(fault, model, rng);
        if (writesAvailable) {
            ++writes;
            const std::string written = soak.write(model, rng);
            if (written.empty())
                ++writesOk;
            else if (problem.empty())
                problem = "write: " + written;
        }
        ++runs[size_t(fault)];
        if (problem.empty()) {
            ++ok;
            ++passed[size_t(fault)];
        } else {
            std::printf("soak: cycle %ld (%s, Kolvar%d): %s\n", i + 1, faultName(fault), model, problem.c_str());
        }
        if (verbose)
            std::printf("soak: cycle %ld %s fds %d threads %d rss %ld kB heap %ld kB\n", i + 1, faultName(fault),
                        entries("/proc/self/fd"), entries("/proc/self/task"), rssKb(), heapKb());
    }

    // Afterwards a plain read of each model must still be exact.
    bool finalOk = true;
    for (int model : { 22, 1 }) {
        const std::string problem = soak.cycle(Fault::None, model, rng);
        if (!problem.empty()) {
            std::printf("soak: the final read of a Kolvar%d failed: %s\n", model, problem.c_str());
            finalOk = false;
        }
    }
    // The monitoring thread ends by itself shortly after its port closes.
    (void)QTest::qWaitFor([&] { return entries("/proc/self/task") <= threadsBefore; }, 5000);
    const int fdGrowth = entries("/proc/self/fd") - fdBefore;
    const int threadGrowth = entries("/proc/self/task") - threadsBefore;
    const long rssGrowth = rssKb() - rssBefore;
    const long heapGrowth = heapKb() - heapBefore;

    for (int f = 0; f < int(Fault::Count); ++f)
        std::printf("soak: %-12s %ld of %ld cycles as they must\n", faultName(Fault(f)), passed[size_t(f)],
                    runs[size_t(f)]);
    if (writesAvailable)
        std::printf("soak: writes       %ld of %ld reached the box exactly\n", writesOk, writes);
    else
        std::printf("soak: writes not included (no \"Scrivi Eeprom\" in this build)\n");
    std::printf("soak: final reads %s; rss %+ld kB, heap in use %+ld kB, seed %u\n", finalOk ? "exact" : "FAILED",
                rssGrowth, heapGrowth, seed);
    std::printf("BENCH soak_cycles_ok %ld count target >= %ld\n", ok, cycles);
    std::printf("BENCH soak_fd_growth %d count target <= 0\n", fdGrowth);
    std::printf("BENCH soak_thread_growth %d count target <= 0\n", threadGrowth);
    std::printf("BENCH soak_heap_growth_kb %ld kb target <= 256\n", heapGrowth);
    const bool clean = ok == cycles && finalOk && fdGrowth <= 0 && threadGrowth <= 0 && heapGrowth <= 256;
    return clean ? 0 : 1;
}
