// Start-up of pradix-tool: wall time of `pradix-tool --version`, from the
// spawn to the exit, the median of many runs. Scripts call the tool in loops
// over many boxes and files, so its start must stay cheap.

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
double runOnce()
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = PRADIX_TOOL_PATH;
    char version[] = "--version";
    char* argv[] = { program, version, nullptr };
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
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
    return 0;
}
