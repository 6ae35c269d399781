// A whole write at the real pace of the line: "Scrivi Eeprom" to the LED
// turning green, against the box simulator, with the real 45, 55 and 50 ms
// pauses. The floor is the sum of the pauses plus the line time of the
// pieces: each piece must have left for the line before its pause starts, so
// none of it hides in a pause. A pseudo-terminal takes the bytes at once, so
// there the line time is nil and the floor is the pauses alone (6.45 s); on a
// 9600-baud line add 2054 x 10 / 9600 s. The CPU time of the whole program
// during the write is reported as a share of the wall time.

#include "bench/BenchSupport.h"
#include "app/Application.h"
#include "app/Program.h"
#include "widgets/ALed.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>


#include <cstdio>

int main(int argc, char** argv)
{
    // The backups of the read and the write go to a folder of their own.
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    TApplication app(argc, argv);

    QProcess sim;
    // The table comes in at once; the write is what is measured.
    const QString path = bench::startSimulator(sim, { QStringLiteral("--fast") });
    if (path.isEmpty()) {
        std::fprintf(stderr, "write_bench: the box simulator did not start\n");
        return 1;
    }

    Program program(realSeams());
    TfrmMain& frmMain = program.frmMain;
    frmMain.show();
    auto* EditDevName = frmMain.findChild<QLineEdit*>(QStringLiteral("EditDevName"));
    auto* Button4 = frmMain.findChild<QPushButton*>(QStringLiteral("Button4"));
    auto* ALed1 = dynamic_cast<TALed*>(frmMain.findChild<QWidget*>(QStringLiteral("ALed1")));
    if (!EditDevName || !Button4 || !ALed1) {
        std::fprintf(stderr, "write_bench: the main window has no port box, write button or LED\n");
        return 1;
    }
    EditDevName->setText(path);

    frmMain.ButtonTransmitClick();
    if (!QTest::qWaitFor([&] { return !frmMain.exchange().port().Enabled(); }, 30000)
        || frmMain.grid().cell(1, 1) != QLatin1String("U")) {
        std::fprintf(stderr, "write_bench: the table to write was not read\n");
        return 1;
    }

    constexpr double lineSeconds = 0.0; // a pseudo-terminal
    constexpr double floorSeconds = 0.045 + 0.055 + 127 * 0.050 + lineSeconds;
    int writes = 0;
    frmMain.exchange().port().setWriteFault([&writes](int, int) {
        ++writes;
        return false;
    });
    const double cpuBefore = bench::cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    // The write runs inside the click's handler: the LED is green when it returns.
    QTest::mouseClick(Button4, Qt::LeftButton);
    const double wall = timer.nsecsElapsed() / 1e9;
    const double cpu = bench::cpuSeconds() - cpuBefore;
    sim.terminate();
    sim.waitForFinished(5000);
    if (frmMain.exchange().port().Enabled() || ALed1->FalseColor() != clGreen || writes < 2 + 127 + 3) {
        std::fprintf(stderr, "write_bench: the table was not written (%d port writes)\n", writes);
        return 1;
    }
    std::printf("write_bench: %.3f s for the write (%d port writes), floor %.3f s\n", wall, writes, floorSeconds);
    std::printf("BENCH write_vs_floor %.3f ratio target <= 1.01\n", wall / floorSeconds);
    std::printf("BENCH write_cpu_pct %.1f pct target < 10\n", 100.0 * cpu / wall);
    return 0;
}
