// Start-up of pradix-tool: wall time of `pradix-tool --version`, from the
// spawn to the exit, the median of many runs. Scripts call the tool in loops
// over many boxes and files, so its start must stay cheap.
//
// A whole `pradix-tool read` against the box simulator at 9600 baud, from
// the spawn to the exit (start, port, the table, the file and its backup),
// over the line's own time for the request and the image: what the tool
// adds to the line.

#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// One run with standard output thrown away; the milliseconds, or -1.
double runOnce(std::vector<char*> arguments = {})
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = PRADIX_TOOL_PATH;
    char version[] = "--version";
    if (arguments.empty())
        arguments = { version };
    std::vector<char*> argv{ program };
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

// The median wall time of `pradix-tool read` over the line time, or -1.
double readVsLine()
{
    QProcess sim;
    const QString device = bench::startSimulator(sim);
    if (device.isEmpty())
        return -1;
    QTemporaryDir folder;
    QByteArray port = device.toLocal8Bit();
    QByteArray file = (folder.path() + QStringLiteral("/box.dat")).toLocal8Bit();
    char read[] = "read";
    char quiet[] = "--quiet";
    char portOption[] = "--port";
    char output[] = "-o";
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const double ms = runOnce({ read, quiet, portOption, port.data(), output, file.data() });
        if (ms < 0)
            return -1;
        times.push_back(ms);
    }
    sim.terminate();
    sim.waitForFinished(5000);
    std::sort(times.begin(), times.end());
    constexpr double lineMs = (3 + 2067) * 10 * 1000.0 / 9600;
    std::printf("tool_bench: read %.0f ms, line %.0f ms\n", times[times.size() / 2], lineMs);
    return times[times.size() / 2] / lineMs;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    constexpr int Runs = 31;
    runOnce(); // the first run pays for the page cache
    std::vector<double> times;
    for (int i = 0; i < Runs; ++i) {
        const double ms = runOnce();
        if (ms < 0) {
            std::fprintf(stderr, "tool_bench: %s --version failed\n", PRADIX_TOOL_PATH);
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("BENCH tool_start_ms %.1f ms target < 30\n", times[times.size() / 2]);
    const double ratio = readVsLine();
    if (ratio < 0) {
        std::fprintf(stderr, "tool_bench: pradix-tool read against the simulator failed\n");
        return 1;
    }
    std::printf("BENCH tool_read_vs_line %.3f ratio target <= 1.05\n", ratio);
    return 0;
}
