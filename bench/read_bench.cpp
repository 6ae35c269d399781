// A whole read at the real pace of the line: "Leggi Eeprom" to the LED turning
// green, against the box simulator sending at 9600 baud 8N1, with the real
// 20 ms pause per decoded row. The floor is the line time of 2067 bytes of ten
// bits each plus 127 pauses; the CPU time of the whole program (both threads)
// during the read is reported as a share of the wall time.

#include "bench/BenchSupport.h"
#include "app/Application.h"
#include "app/Program.h"
#include "widgets/ALed.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>


#include <cstdio>

int main(int argc, char** argv)
{
    TApplication app(argc, argv);

    QProcess sim;
    const QString path = bench::startSimulator(sim);
    if (path.isEmpty()) {
        std::fprintf(stderr, "read_bench: the box simulator did not start\n");
        return 1;
    }

    Program program(realSeams());
    TfrmMain& frmMain = program.frmMain;
    frmMain.show();
    auto* EditDevName = frmMain.findChild<QLineEdit*>(QStringLiteral("EditDevName"));
    auto* ALed1 = dynamic_cast<TALed*>(frmMain.findChild<QWidget*>(QStringLiteral("ALed1")));
    if (!EditDevName || !ALed1) {
        std::fprintf(stderr, "read_bench: the main window has no port box or LED\n");
        return 1;
    }
    EditDevName->setText(path);

    constexpr double floorSeconds = 2067 * 10 / 9600.0 + 127 * 0.020;
    const double cpuBefore = bench::cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    frmMain.ButtonTransmitClick();
    const bool done = QTest::qWaitFor([&] { return !frmMain.exchange().port().Enabled(); }, 30000);
    const double wall = timer.nsecsElapsed() / 1e9;
    const double cpu = bench::cpuSeconds() - cpuBefore;
    sim.terminate();
    sim.waitForFinished(5000);
    if (!done || ALed1->FalseColor() != clGreen || frmMain.grid().cell(1, 1) != QLatin1String("U")) {
        std::fprintf(stderr, "read_bench: the table was not read\n");
        return 1;
    }
    std::printf("read_bench: %.3f s for the read, floor %.3f s\n", wall, floorSeconds);
    std::printf("BENCH read_vs_floor %.3f ratio target <= 1.03\n", wall / floorSeconds);
    std::printf("BENCH read_cpu_pct %.1f pct target < 10\n", 100.0 * cpu / wall);
    return 0;
}
