// Start-up of the program to its main window shown, and the peak memory of a
// started program. The parent starts itself as a child several times; the
// child builds the windows as the program does, prints one line once the main
// window is exposed, and reports its peak resident size.

#include "app/Application.h"
#include "app/Program.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int child(int argc, char** argv)
{
    TApplication app(argc, argv);
    app.setHelpFile(QStringLiteral("Pradix.hlp"));
    Program program(realSeams());
    program.frmMain.show();
    if (!QTest::qWaitForWindowExposed(&program.frmMain))
        return 1;
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("shown %ld\n", usage.ru_maxrss);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return child(argc, argv);

    QCoreApplication app(argc, argv);
    constexpr int Runs = 7;
    std::vector<double> times;
    long peakKb = 0;
    for (int i = 0; i < Runs; ++i) {
        QProcess proc;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        proc.setProcessEnvironment(env);
        QElapsedTimer timer;
        timer.start();
        proc.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--child") });
        QByteArray line;
        while (!line.contains('\n') && proc.waitForReadyRead(10000))
            line += proc.readAllStandardOutput();
        const double ms = timer.nsecsElapsed() / 1e6;
        proc.waitForFinished(10000);
        if (!line.startsWith("shown ")) {
            std::fprintf(stderr, "startup_bench: child did not show its window\n");
            return 1;
        }
        times.push_back(ms);
        peakKb = std::max(peakKb, line.mid(6).trimmed().toLong());
    }
    std::sort(times.begin(), times.end());
    std::printf("BENCH startup_ms %.1f ms target < 300\n", times[times.size() / 2]);
    std::printf("BENCH peak_rss_mb %.1f MB target < 60\n", peakKb / 1024.0);
    return 0;
}
