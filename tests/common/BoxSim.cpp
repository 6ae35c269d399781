#include "BoxSim.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Status polling while waiting for the child to end.
constexpr std::chrono::milliseconds kReapStep{10};
// The first line is a device path; nothing sane is longer.
constexpr std::size_t kMaxLine = 4096;

int decodeStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

std::string argumentAfter(const std::vector<std::string>& arguments, const std::string& option)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == option && i + 1 < arguments.size())
            return arguments[i + 1];
        if (arguments[i].compare(0, option.size() + 1, option + "=") == 0)
            return arguments[i].substr(option.size() + 1);
    }
    return {};
}

} // namespace

BoxSim::BoxSim()
{
    std::string base = std::filesystem::temp_directory_path().string() + "/pradix-boxsim-XXXXXX";
    if (mkdtemp(base.data()))
        workDir_ = base;
}

BoxSim::~BoxSim()
{
    stop();
    if (!workDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(workDir_, ignored);
    }
}

std::string BoxSim::programPath()
{
    return PRADIX_BOXSIM_PATH;
}

void BoxSim::setEnvironment(const std::string& name, const std::string& value)
{
    for (auto& entry : environment_) {
        if (entry.first == name) {
            entry.second = value;
            return;
        }
    }
    environment_.emplace_back(name, value);
}

bool BoxSim::start(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout)
{
    stop();
    error_.clear();
    devicePath_.clear();
    exitStatus_ = -1;
    logPath_ = argumentAfter(arguments, "--log");
    savePath_ = argumentAfter(arguments, "--save");

    const std::string program = programPath();
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool overridden = false;
        for (const auto& var : environment_)
            overridden = overridden || entry.compare(0, var.first.size() + 1, var.first + "=") == 0;
        if (!overridden)
            envStrings.push_back(entry);
    }
    for (const auto& var : environment_)
        envStrings.push_back(var.first + "=" + var.second);
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int spawned = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeFds[1]);
    if (spawned != 0) {
        pid_ = -1;
        close(pipeFds[0]);
        error_ = "cannot start " + program + ": " + std::strerror(spawned);
        return false;
    }

    std::string line;
    const auto deadline = Clock::now() + timeout;
    bool complete = false;
    while (!complete) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            error_ = "the simulator printed no device path in time";
            break;
        }
        pollfd pfd{pipeFds[0], POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        char buffer[256];
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = "the simulator ended without printing its device path";
            break;
        }
        for (ssize_t i = 0; i < n && !complete; ++i) {
            if (buffer[i] == '\n')
                complete = true;
            else
                line += buffer[i];
        }
        if (!complete && line.size() > kMaxLine) {
            error_ = "the simulator printed no device path";
            break;
        }
    }
    close(pipeFds[0]);
    if (!complete) {
        int status = 0;
        if (reap(false, &status))
            error_ += " (exit status " + std::to_string(status) + ")";
        stop();
        return false;
    }
    devicePath_ = line;
    return true;
}

bool BoxSim::reap(bool block, int* status)
{
    if (pid_ <= 0)
        return false;
    int raw = 0;
    pid_t r;
    do {
        r = waitpid(pid_, &raw, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r != pid_)
        return false;
    exitStatus_ = decodeStatus(raw);
    pid_ = -1;
    if (status)
        *status = exitStatus_;
    return true;
}

bool BoxSim::waitForExit(std::chrono::milliseconds timeout, int* status)
{
    if (pid_ <= 0) {
        if (status)
            *status = exitStatus_;
        return exitStatus_ != -1;
    }
    const auto deadline = Clock::now() + timeout;
    while (true) {
        if (reap(false, status))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kReapStep);
    }
}

bool BoxSim::isRunning()
{
    if (pid_ <= 0)
        return false;
    return !reap(false, nullptr);
}

int BoxSim::stop(std::chrono::milliseconds timeout)
{
    if (pid_ <= 0)
        return exitStatus_;
    kill(pid_, SIGTERM);
    int status = -1;
    if (waitForExit(timeout, &status))
        return status;
    kill(pid_, SIGKILL);
    reap(true, &status);
    return status;
}

std::string BoxSim::readTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    return text.str();
}

std::vector<std::uint8_t> BoxSim::readBinaryFile(const std::string& path)
{
    const std::string text = readTextFile(path);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::string BoxSim::readLog() const
{
    return logPath_.empty() ? std::string() : readTextFile(logPath_);
}

std::vector<std::string> BoxSim::readLogLines(std::size_t& offset) const
{
    std::vector<std::string> lines;
    std::ifstream in(logPath_, std::ios::binary);
    if (logPath_.empty() || !in || !in.seekg(std::streamoff(offset)))
        return lines;
    std::ostringstream rest;
    rest << in.rdbuf();
    const std::string text = rest.str();
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    offset += start;
    return lines;
}

bool BoxSim::waitForLog(const std::string& needle, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (readLog().find(needle) != std::string::npos)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<std::uint8_t> BoxSim::readSaved() const
{
    return savePath_.empty() ? std::vector<std::uint8_t>() : readBinaryFile(savePath_);
}
