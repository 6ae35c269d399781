#pragma once

#include "sim/FrameReceiver.h"
#include "sim/Image.h"
#include "sim/Options.h"
#include "sim/SimLog.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace boxsim {

// The box on the master side of the pseudo-terminal: it answers requests,
// keeps written tables and feeds its answers to the line at the pace of a
// 9600-baud UART. Everything waits in one ppoll(), so it never spins.
class BoxServer {
public:
    // customerImages: for each of options.customers, the image its box holds,
    // or none for the box of image.
    BoxServer(int masterFd, const std::string& slavePath, const Options& options, const Image& image, SimLog& log,
              std::vector<std::optional<Image>> customerImages = {});
    ~BoxServer();
    BoxServer(const BoxServer&) = delete;
    BoxServer& operator=(const BoxServer&) = delete;

    // Serves until stop is set (by a signal handler; signals are delivered
    // only during the wait, with waitMask in force) or until a hang-up fault
    // has closed the line. Returns the exit status.
    int run(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask);

private:
    using Clock = std::chrono::steady_clock;

    // Sends what is due and acts on the hang-up and receive deadlines; true
    // once a hang-up fault has closed the line.
    bool actOnDeadlines(Clock::time_point now);
    // The earliest moment something is due, if anything is.
    std::optional<Clock::time_point> nextWake(Clock::time_point now) const;
    // Acts on what poll() saw on the open line; false when the line is gone.
    bool serveLine(short revents);
    // The master's poll events now, without waiting (POLLERR when it cannot
    // be looked at): POLLHUP while no one has the program's end open.
    short lookAtLine() const;
    // While the port is closed: whether the program has opened it again.
    void checkReopened();
    // Reads what the line holds; false when it stopped with more waiting.
    bool readLine();
    void onFrame(const Frame& frame);
    void answerRead(const char* name, const Frame& frame, bool remote);
    void onDial(const Frame& frame);
    // The box a remote command reaches: the called customer's, or the one of --image.
    Image& remoteImage();
    void answerRemoteWrite();
    // Whether a remote read or write reaches the box; says in the log why not.
    bool reachesRemoteBox(const char* name, const Frame& frame);
    void takeTable(const std::vector<std::uint8_t>& table);
    // The unit hands the box what it has of the last table (02 01 06).
    void commitStaged();
    void corruptStored(std::size_t storedBytes);
    // What the box holds, told in the log and the state file.
    enum class Holding { Old, New, Partial };
    void setHolding(Holding holding, std::size_t bytes);
    void saveImage();
    void queue(const std::uint8_t* data, std::size_t size);
    void sendDue(Clock::time_point now);
    void peerClosed();
    // Bytes that came while the port was closed; true when it still is.
    bool takeWhileClosed();
    // The program's close was seen, but the port is open again by now.
    void closedAndOpenedAgain();
    void flushLine();
    // The stall-write fault: output of the program's side stopped, and started again.
    void holdLine(std::size_t tableBytes);
    void releaseLine();
    // The program closed the port while the line was held (seen by closeWatch_).
    void programClosedHeldLine();
    void dropPartial(const char* why);
    std::optional<Clock::time_point> nextSendTime() const;
    std::size_t dueCount(Clock::time_point now) const;

    int master_;
    std::string slavePath_;
    const Options& options_;
    Image image_;
    SimLog& log_;
    FrameReceiver receiver_;
    bool lastTableWhole_ = false;
    // With the dialling unit: the table written to it, as far as it arrived,
    // waiting for 02 01 06 to go to the box.
    std::vector<std::uint8_t> staged_;
    // A number has been dialled since the last hang-up (dialling unit only).
    bool callUp_ = false;
    // A number has been dialled and no hang-up frame has come since.
    bool lineTaken_ = false;
    // The customer the call under way reaches, when it is one of --customer;
    // customerImages_ is aligned with options_.customers.
    const Customer* called_ = nullptr;
    std::vector<std::optional<Image>> customerImages_;
    std::optional<Image>* calledImage_ = nullptr;
    // When the chunk being handled was read, and when the last write request arrived.
    Clock::time_point chunkAt_{};
    Clock::time_point writeRequestAt_{};

    // Whether the program holds the other side open. The master reports a
    // hang-up once the last slave descriptor is closed.
    bool lineOpen_ = true;

    // Bytes on their way to the line; out_[0..sent_) have been handed over.
    std::vector<std::uint8_t> out_;
    std::size_t sent_ = 0;
    Clock::time_point lineStart_{};
    bool waitWritable_ = false;

    // For the stall-write fault: a descriptor of the slave, taken while the
    // program does not hold it exclusively, to stop the line with.
    int slaveHold_ = -1;
    bool lineHeld_ = false;
    // While the line is held: an inotify descriptor that hears the device closed.
    int closeWatch_ = -1;

    bool hangUpArmed_ = false;
    std::optional<Clock::time_point> hangUpAt_;
    std::optional<Clock::time_point> receiveDeadline_;
};

} // namespace boxsim
