#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// Runs pradix-boxsim as a child process for a test: a real box on a real
// pseudo-terminal. Each instance has a private work folder (removed with it)
// for the files the simulator is told to write, e.g.
//
//   BoxSim sim;
//   ASSERT_TRUE(sim.start({"--fast", "--log", sim.file("box.log")})) << sim.error();
//   ... open sim.devicePath() ...
//   EXPECT_NE(sim.readLog().find("FRAME read"), std::string::npos);
//
// The child inherits the test's descriptors that are not close-on-exec:
// open ports with O_CLOEXEC, or a simulator started later keeps an earlier
// one's line open and that one never sees the port closed.
class BoxSim {
public:
    BoxSim();
    ~BoxSim();   // stops the simulator, removes the work folder
    BoxSim(const BoxSim&) = delete;
    BoxSim& operator=(const BoxSim&) = delete;

    // Sets a variable of the simulator's environment (e.g. XDG_CONFIG_HOME
    // for --link); takes effect at the next start().
    void setEnvironment(const std::string& name, const std::string& value);

    // Starts the simulator with these arguments and waits for the device path
    // it prints. False (with error()) when it cannot start, ends early or
    // prints nothing within the time given.
    bool start(const std::vector<std::string>& arguments = {},
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Asks it to end (SIGTERM), waits, kills it after the time given. Returns
    // its exit status, 128 + the signal if a signal ended it, or -1 if none
    // was running. Safe to call more than once.
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Waits for the simulator to end by itself (a hang-up fault ends it).
    // True with its exit status when it ended within the time given.
    bool waitForExit(std::chrono::milliseconds timeout, int* status = nullptr);

    bool isRunning();
    pid_t pid() const { return pid_; }

    const std::string& devicePath() const { return devicePath_; }
    const std::string& error() const { return error_; }
    const std::string& workDir() const { return workDir_; }
    // A path in the work folder.
    std::string file(const std::string& name) const { return workDir_ + "/" + name; }

    // The files named after --log and --save in the last start() (empty text
    // or no bytes when there is none, or it is not written yet).
    std::string logPath() const { return logPath_; }
    std::string savePath() const { return savePath_; }
    std::string readLog() const;
    // The whole lines logged after the first `offset` bytes of the log, and
    // the offset just past the last of them: a test that polls the log while
    // a table goes out reads on from where it stopped.
    std::vector<std::string> readLogLines(std::size_t& offset) const;
    // Waits until the log holds the text: the simulator logs the bytes it
    // received before what it made of them, so a test that saw the bytes
    // arrive waits here for the frame (false after `timeout`).
    bool waitForLog(const std::string& needle, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    std::vector<std::uint8_t> readSaved() const;

    static std::string readTextFile(const std::string& path);
    static std::vector<std::uint8_t> readBinaryFile(const std::string& path);
    static std::string programPath();

private:
    bool reap(bool block, int* status);

    pid_t pid_ = -1;
    int exitStatus_ = -1;
    std::string devicePath_;
    std::string error_;
    std::string workDir_;
    std::string logPath_;
    std::string savePath_;
    std::vector<std::pair<std::string, std::string>> environment_;
};
