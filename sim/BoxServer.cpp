#include "sim/BoxServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace boxsim {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// 9600 baud with 8N1 framing carries 960 bytes a second: a byte every
// 1.0417 ms. Counts are kept in nanoseconds, exact for whole multiples of 96.
constexpr long long kBytesPer100ms = 96;
constexpr long long kNsPer100ms = 100'000'000;

// How often the box looks whether the program has opened the line again
// (see run()).
constexpr milliseconds kReopenCheck{10};
// After the last byte of a hang-up fault, time for the other end to take it
// before the line drops (a dropped pseudo-terminal discards unread bytes).
constexpr milliseconds kHangUpGrace{200};
// A frame or table left unfinished this long is dropped, so a write that the
// program abandoned half-way does not swallow the next request.
constexpr milliseconds kReceiveTimeout{2000};

constexpr std::size_t kReadChunk = 4096;
// Reads per wake-up, so a flood on the line cannot starve the answers.
constexpr int kReadsPerWake = 16;

const std::uint8_t kReplyDone[] = {0x02, 0x03, 0x07};
const std::uint8_t kReplyError[] = {0x02, 0x03, 0x08};

std::string dialledNumber(const std::vector<std::uint8_t>& frame)
{
    std::string number;
    for (std::size_t i = 3; i < frame.size(); ++i)
        number += (frame[i] >= '0' && frame[i] <= '9') ? static_cast<char>(frame[i]) : '?';
    return number;
}

// Noise that never contains a byte the program could take for the start of
// a table or a frame (0x02, 'U', 'Y'), so the result of a garbage fault does
// not depend on chance.
std::vector<std::uint8_t> garbage(std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    std::uint32_t x = 0x2545F491u;
    for (std::uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
        if (b == 0x02 || b == 0x55 || b == 0x59)
            b ^= 0x80;
    }
    return bytes;
}

// What poll() says of the master when no one has the program's end open.
bool hungUp(short revents)
{
    return revents & (POLLHUP | POLLERR);
}

} // namespace

BoxServer::BoxServer(int masterFd, const std::string& slavePath, const Options& options, const Image& image,
                     SimLog& log, std::vector<std::optional<Image>> customerImages)
    : master_(masterFd), slavePath_(slavePath), options_(options), image_(image), log_(log),
      customerImages_(std::move(customerImages))
{
    customerImages_.resize(options_.customers.size());
    // Output on a terminal is stopped through a descriptor of it, and once the
    // program has the port it lets no one else open it: the descriptor is
    // taken now, before the program comes.
    if (options_.fault == Fault::StallWrite) {
        slaveHold_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slaveHold_ < 0)
            log_.note(std::string("cannot keep the line to hold it: ") + std::strerror(errno));
    }
    setHolding(Holding::Old, 0);
}

BoxServer::~BoxServer()
{
    if (slaveHold_ >= 0)
        close(slaveHold_);
    if (closeWatch_ >= 0)
        close(closeWatch_);
}

int BoxServer::run(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask)
{
    // When the program closes its port, the master reports POLLHUP (and reads
    // fail with EIO) until someone opens the slave again, and poll() keeps
    // returning at once. Holding a slave descriptor of our own would hide that,
    // but it would also hide the close itself, and bytes sent to a closed port
    // would then wait in the line for the next opener instead of being lost as
    // on a real serial port. So the box treats the hang-up as "port closed":
    // it drops what it was sending, flushes the line, takes the master out of
    // the poll set and looks every 10 ms whether the line is open again. That
    // costs one cheap wake-up per tick while the port is closed and never
    // spins; an answer waits at most one tick after the program reopens.
    lineOpen_ = !hungUp(lookAtLine());

    while (!stop) {
        const Clock::time_point now = Clock::now();
        if (actOnDeadlines(now))
            return 0;

        const std::optional<Clock::time_point> wake = nextWake(now);
        timespec timeout{};
        if (wake) {
            const long long ns = std::max<long long>(0, std::chrono::duration_cast<nanoseconds>(*wake - now).count());
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        }
        pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (waitWritable_ ? POLLOUT : 0)), 0},
                         {closeWatch_, POLLIN, 0}};
        // The watch on the program's closes goes second, or first when the master is out.
        pollfd* watched = lineOpen_ ? fds : fds + 1;
        const nfds_t count = (lineOpen_ ? 1 : 0) + (closeWatch_ >= 0 ? 1 : 0);
        const int ready = ppoll(watched, count, wake ? &timeout : nullptr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "pradix-boxsim: poll failed: %s\n", std::strerror(errno));
            return 1;
        }
        if (closeWatch_ >= 0 && (fds[1].revents & POLLIN)) {
            programClosedHeldLine();
            continue;
        }
        if (!lineOpen_)
            checkReopened();
        else if (!serveLine(fds[0].revents))
            return 1;
    }
    if (lineTaken_)
        log_.note("stopped with the line taken: no hang-up since the last dial");
    log_.note("stopped");
    return 0;
}

bool BoxServer::actOnDeadlines(Clock::time_point now)
{
    if (lineOpen_)
        sendDue(now);
    if (hangUpArmed_ && out_.empty() && !hangUpAt_)
        hangUpAt_ = now + kHangUpGrace;
    if (hangUpAt_ && now >= *hangUpAt_) {
        log_.note("fault: hanging up the line");
        close(master_);
        master_ = -1;
        return true;
    }
    if (receiveDeadline_ && now >= *receiveDeadline_)
        dropPartial("nothing more arrived for 2 s");
    return false;
}

std::optional<BoxServer::Clock::time_point> BoxServer::nextWake(Clock::time_point now) const
{
    std::optional<Clock::time_point> wake;
    auto consider = [&wake](std::optional<Clock::time_point> t) {
        if (t && (!wake || *t < *wake))
            wake = t;
    };
    if (lineOpen_ && !waitWritable_)
        consider(nextSendTime());
    consider(hangUpAt_);
    consider(receiveDeadline_);
    if (!lineOpen_)
        consider(now + kReopenCheck);
    return wake;
}

bool BoxServer::serveLine(short revents)
{
    if (revents & POLLNVAL) {
        std::fprintf(stderr, "pradix-boxsim: the pseudo-terminal is gone\n");
        return false;
    }
    if (revents & POLLOUT)
        waitWritable_ = false;
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        const bool drained = readLine();
        // A hang-up must never stay in the poll set, or poll() spins. It was
        // seen before the read, and a read that ended without an error found
        // the port open: the program closed it and opened it again (a write
        // ends with a close, the next read opens at once), and its new request
        // may be among the bytes just read, to be answered, not dropped.
        if (drained && lineOpen_ && hungUp(revents)) {
            if (hungUp(lookAtLine()))
                peerClosed();
            else
                closedAndOpenedAgain();
        }
    }
    return true;
}

short BoxServer::lookAtLine() const
{
    pollfd probe{master_, POLLIN, 0};
    return poll(&probe, 1, 0) < 0 ? short(POLLERR) : probe.revents;
}

void BoxServer::checkReopened()
{
    const short revents = lookAtLine();
    if (hungUp(revents) && (!(revents & POLLIN) || takeWhileClosed()))
        return;
    lineOpen_ = true;
    log_.note("line opened by the other end");
}

bool BoxServer::readLine()
{
    std::uint8_t buffer[kReadChunk];
    std::vector<Frame> frames;
    for (int i = 0; i < kReadsPerWake; ++i) {
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n <= 0) {
            // 0 or EIO: the last slave descriptor has been closed.
            peerClosed();
            return true;
        }
        chunkAt_ = Clock::now();
        log_.received(buffer, static_cast<std::size_t>(n));
        frames.clear();
        receiver_.feed(buffer, static_cast<std::size_t>(n), frames);
        for (const Frame& frame : frames)
            onFrame(frame);
        if (receiver_.midFrame())
            receiveDeadline_ = Clock::now() + kReceiveTimeout;
        else
            receiveDeadline_.reset();
    }
    return false;
}

void BoxServer::onFrame(const Frame& frame)
{
    const auto& bytes = frame.bytes;
    switch (frame.kind) {
    case FrameKind::Read:
        answerRead("read", frame, false);
        break;
    case FrameKind::RemoteRead:
        if (reachesRemoteBox("remote-read", frame))
            answerRead("remote-read", frame, true);
        break;
    case FrameKind::Write:
        writeRequestAt_ = chunkAt_;
        staged_.clear();
        if (options_.fault == Fault::StallWrite && options_.faultCount == 0)
            holdLine(0);
        log_.frame("write", bytes.data(), bytes.size());
        break;
    case FrameKind::TablePart: {
        // Held before the piece is logged: whoever follows the log knows the
        // line is held once it sees the byte that held it.
        if (options_.fault == Fault::StallWrite && frame.offset + bytes.size() >= options_.faultCount)
            holdLine(frame.offset + bytes.size());
        const double ms = std::chrono::duration<double, std::milli>(chunkAt_ - writeRequestAt_).count();
        log_.piece(ms, frame.offset, bytes.data(), bytes.size());
        if (options_.unit)
            staged_.insert(staged_.end(), bytes.begin(), bytes.end());
        break;
    }
    case FrameKind::Table:
        takeTable(bytes);
        break;
    case FrameKind::RemoteWrite:
        if (reachesRemoteBox("remote-write", frame)) {
            log_.frame("remote-write", bytes.data(), bytes.size());
            answerRemoteWrite();
        }
        break;
    case FrameKind::Dial:
        onDial(frame);
        break;
    case FrameKind::HangUp:
        log_.frame("hangup", bytes.data(), bytes.size());
        lineTaken_ = false;
        called_ = nullptr;
        calledImage_ = nullptr;
        if (options_.unit && callUp_) {
            callUp_ = false;
            log_.note("call ended");
        }
        break;
    case FrameKind::Unknown:
        log_.frame("unknown", bytes.data(), bytes.size());
        break;
    case FrameKind::Skipped:
        log_.note("skipped " + std::to_string(bytes.size()) + " bytes outside any frame");
        break;
    }
}

void BoxServer::onDial(const Frame& frame)
{
    const std::string number = dialledNumber(frame.bytes);
    log_.frame(number.empty() ? "dial" : "dial " + number, frame.bytes.data(), frame.bytes.size());
    // An empty number calls no one.
    if (!options_.unit || number.empty())
        return;
    lineTaken_ = true;
    // The last number dialled is the one called: a prefix for an outside line comes first.
    called_ = nullptr;
    calledImage_ = nullptr;
    for (std::size_t i = 0; i < options_.customers.size(); ++i)
        if (options_.customers[i].number == number) {
            called_ = &options_.customers[i];
            calledImage_ = &customerImages_[i];
        }
    log_.note("call to " + number);
    callUp_ = true;
    if (called_ && called_->fault == Fault::Busy) {
        callUp_ = false;
        log_.note("fault: " + number + " is busy");
        log_.note("call ended");
    } else if (called_ && called_->fault == Fault::Silent) {
        log_.note("fault: " + number + " does not answer");
    }
}

Image& BoxServer::remoteImage()
{
    return calledImage_ && *calledImage_ ? **calledImage_ : image_;
}

bool BoxServer::reachesRemoteBox(const char* name, const Frame& frame)
{
    const char* why = nullptr;
    if (!options_.unit)
        why = "no dialling unit on the line";
    else if (options_.needDial && !callUp_)
        why = "no call under way";
    if (!why)
        return true;
    log_.frame(name, frame.bytes.data(), frame.bytes.size());
    log_.note(std::string(why) + ": not answered");
    return false;
}

void BoxServer::answerRemoteWrite()
{
    const Fault fault = called_ ? called_->fault : Fault::None;
    if (options_.fault == Fault::Silent || fault == Fault::Silent) {
        log_.note("fault: not answered");
        return;
    }
    const bool refuse = options_.replyError || fault == Fault::Error;
    if (refuse) {
        log_.note("answering the remote write with an error");
        queue(kReplyError, sizeof kReplyError);
    } else if (lastTableWhole_) {
        queue(kReplyDone, sizeof kReplyDone);
    } else {
        log_.note("no whole table before the remote write: answering with an error");
        queue(kReplyError, sizeof kReplyError);
    }
    if (!refuse)
        commitStaged();
    staged_.clear();
}

void BoxServer::commitStaged()
{
    // Like the box it stands for, the unit passes on whatever it holds of a
    // table: a program that tells it to keep a table cut short leaves the
    // box with a table that is part new, part old.
    if (staged_.empty())
        return;
    if (&remoteImage() != &image_) {
        // A customer's own box: kept in memory only, without a fault of --fault.
        std::copy(staged_.begin(), staged_.end(), remoteImage().begin());
        log_.note("the box of " + called_->number + " holds " + std::to_string(staged_.size()) + " new bytes");
        return;
    }
    std::copy(staged_.begin(), staged_.end(), image_.begin());
    corruptStored(staged_.size());
    setHolding(staged_.size() == kWrittenSize ? Holding::New : Holding::Partial, staged_.size());
    saveImage();
}

// A failing memory cell: the byte is stored with its lowest bit flipped.
void BoxServer::corruptStored(std::size_t storedBytes)
{
    if (options_.fault != Fault::CorruptStore || options_.faultCount >= storedBytes)
        return;
    image_[options_.faultCount] ^= 0x01;
    log_.note("fault: byte " + std::to_string(options_.faultCount) + " stored changed");
}

void BoxServer::setHolding(Holding holding, std::size_t bytes)
{
    std::string line;
    switch (holding) {
    case Holding::Old:
        line = "old";
        break;
    case Holding::New:
        line = "new";
        break;
    case Holding::Partial:
        line = "partial " + std::to_string(bytes);
        break;
    }
    if (holding != Holding::Old)
        log_.note("the box holds " + std::string(holding == Holding::New ? "a whole new table"
                                                                          : "a partial table: " + std::to_string(bytes)
                                                                              + " of " + std::to_string(kWrittenSize)
                                                                              + " bytes"));
    if (options_.stateFile.empty())
        return;
    // Written beside and renamed over, so a reader never sees half a line.
    const std::string temporary = options_.stateFile + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "we");
    bool ok = f && std::fprintf(f, "%s\n", line.c_str()) > 0;
    if (f)
        ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), options_.stateFile.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        std::remove(temporary.c_str());
        log_.note("cannot write the state to " + options_.stateFile + ": " + why);
        std::fprintf(stderr, "pradix-boxsim: cannot write the state to %s: %s\n", options_.stateFile.c_str(),
                     why.c_str());
    }
}

void BoxServer::answerRead(const char* name, const Frame& frame, bool remote)
{
    log_.frame(name, frame.bytes.data(), frame.bytes.size());
    if (!out_.empty()) {
        // A box busy sending its table does not start another one.
        log_.note("busy sending: request not answered");
        return;
    }
    // A remote read reaches the box called: its own fault, if it has one, and its own table.
    const bool own = remote && called_ && called_->fault != Fault::None;
    const Fault fault = own ? called_->fault : options_.fault;
    const std::size_t n = own ? called_->faultCount : options_.faultCount;
    const Image& image = remote ? remoteImage() : image_;
    switch (fault) {
    case Fault::None:
    case Fault::StallWrite: // faults of the written table only
    case Fault::CorruptStore:
        queue(image.data(), image.size());
        break;
    case Fault::Silent:
    case Fault::Busy: // no call reaches a busy number's box; without --need-dial, silence
        log_.note("fault: not answered");
        break;
    case Fault::Stop:
        log_.note("fault: sending " + std::to_string(n) + " bytes of the image only");
        queue(image.data(), n);
        break;
    case Fault::Error:
        log_.note("fault: answering with an error frame");
        queue(kReplyError, sizeof kReplyError);
        break;
    case Fault::HangUp:
        log_.note("fault: hanging up after " + std::to_string(n) + " bytes of the image");
        queue(image.data(), n);
        hangUpArmed_ = true;
        break;
    case Fault::DropCall:
        log_.note("fault: the call ends after " + std::to_string(n) + " bytes of the image");
        queue(image.data(), n);
        if (callUp_) {
            callUp_ = false;
            log_.note("call ended");
        }
        break;
    case Fault::Garbage: {
        log_.note("fault: " + std::to_string(n) + " garbage bytes before the image");
        const std::vector<std::uint8_t> noise = garbage(n);
        queue(noise.data(), noise.size());
        queue(image.data(), image.size());
        break;
    }
    }
}

void BoxServer::takeTable(const std::vector<std::uint8_t>& table)
{
    lastTableWhole_ = true;
    log_.frame("table " + std::to_string(table.size()) + " bytes", nullptr, 0);
    if (options_.unit)
        return; // it waits in the unit for 02 01 06
    // The box keeps its own device text: a write carries everything else.
    std::copy(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(kWrittenSize), image_.begin());
    corruptStored(kWrittenSize);
    setHolding(Holding::New, kWrittenSize);
    saveImage();
}

void BoxServer::saveImage()
{
    if (options_.saveFile.empty())
        return;
    // Written beside and renamed over, so a reader never sees half an image.
    const std::string temporary = options_.saveFile + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "wbe");
    bool ok = f && std::fwrite(image_.data(), 1, image_.size(), f) == image_.size();
    if (f)
        ok = std::fclose(f) == 0 && ok;
    if (ok)
        ok = std::rename(temporary.c_str(), options_.saveFile.c_str()) == 0;
    if (!ok) {
        const std::string why = std::strerror(errno);
        std::remove(temporary.c_str());
        log_.note("cannot save the image to " + options_.saveFile + ": " + why);
        std::fprintf(stderr, "pradix-boxsim: cannot save the image to %s: %s\n", options_.saveFile.c_str(), why.c_str());
        return;
    }
    log_.note("image saved to " + options_.saveFile);
}

void BoxServer::queue(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    if (out_.empty()) {
        sent_ = 0;
        lineStart_ = Clock::now();
    }
    out_.insert(out_.end(), data, data + size);
}

std::size_t BoxServer::dueCount(Clock::time_point now) const
{
    if (options_.fast)
        return out_.size();
    const long long elapsed = std::chrono::duration_cast<nanoseconds>(now - lineStart_).count();
    const long long due = elapsed <= 0 ? 0 : elapsed / kNsPer100ms * kBytesPer100ms + (elapsed % kNsPer100ms) * kBytesPer100ms / kNsPer100ms;
    return static_cast<std::size_t>(std::min<long long>(due, static_cast<long long>(out_.size())));
}

std::optional<BoxServer::Clock::time_point> BoxServer::nextSendTime() const
{
    if (sent_ >= out_.size())
        return std::nullopt;
    if (options_.fast)
        return Clock::now();
    // A UART hands bytes over a few at a time; the deadlines count from the
    // start of the answer, so late wake-ups never slow the line down.
    const long long target = static_cast<long long>(std::min(out_.size(), sent_ + options_.burst));
    const long long ns = target / kBytesPer100ms * kNsPer100ms
        + ((target % kBytesPer100ms) * kNsPer100ms + kBytesPer100ms - 1) / kBytesPer100ms;
    return lineStart_ + nanoseconds(ns);
}

void BoxServer::sendDue(Clock::time_point now)
{
    if (waitWritable_ || sent_ >= out_.size())
        return;
    const std::size_t due = dueCount(now);
    const std::size_t target = std::min(out_.size(), sent_ + options_.burst);
    if (due < target)
        return;
    while (sent_ < due) {
        const ssize_t n = write(master_, out_.data() + sent_, due - sent_);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The other end is not reading: wait until the line takes more.
            waitWritable_ = true;
            return;
        }
        if (n < 0) {
            peerClosed();
            return;
        }
        sent_ += static_cast<std::size_t>(n);
    }
    if (sent_ >= out_.size()) {
        log_.note("sent " + std::to_string(out_.size()) + " bytes");
        out_.clear();
        sent_ = 0;
    }
}

void BoxServer::peerClosed()
{
    if (!lineOpen_)
        return;
    lineOpen_ = false;
    waitWritable_ = false;
    const std::size_t unsent = out_.size() - sent_;
    out_.clear();
    sent_ = 0;
    hangUpArmed_ = false;
    hangUpAt_.reset();
    flushLine();
    // Logged once the line is clean, so whoever waits for this line in the
    // log can reopen the port and find nothing of the old exchange.
    log_.note("line closed by the other end");
    if (unsent)
        log_.note("dropped " + std::to_string(unsent) + " bytes not sent yet");
    dropPartial("the line was closed");
    if (lineHeld_)
        releaseLine();
}

void BoxServer::holdLine(std::size_t tableBytes)
{
    if (lineHeld_ || slaveHold_ < 0)
        return;
    if (tcflow(slaveHold_, TCOOFF) != 0) {
        log_.note(std::string("cannot hold the line: ") + std::strerror(errno));
        return;
    }
    lineHeld_ = true;
    log_.note("fault: line held after " + std::to_string(tableBytes) + " of " + std::to_string(kWrittenSize)
              + " bytes of the table");
    // The line is released when the program closes the port, as a stalled
    // adapter is reset by the last close of its device. A pseudo-terminal's
    // master shows that close only until the port is opened again, and a
    // program that closes and reopens at once (to hang up) would slip past
    // the box's next look and find the line still held, which no real line
    // does. So the box watches the device's closes themselves, and keeps its
    // descriptor to start the line again with, since the program's port,
    // reopened, lets no one else open it.
    closeWatch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (closeWatch_ >= 0 && inotify_add_watch(closeWatch_, slavePath_.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) >= 0)
        return;
    log_.note(std::string("cannot watch the line's closes: ") + std::strerror(errno));
    if (closeWatch_ >= 0)
        close(closeWatch_);
    closeWatch_ = -1;
    // Without the watch: the master's hang-up, seen once no one else holds the device.
    close(slaveHold_);
    slaveHold_ = -1;
}

void BoxServer::programClosedHeldLine()
{
    // Held, the box's own descriptor stays open: every close seen is the program's.
    char events[4096];
    while (read(closeWatch_, events, sizeof events) > 0) {
    }
    if (lineOpen_)
        peerClosed();
    else if (lineHeld_)
        releaseLine();
}

void BoxServer::releaseLine()
{
    if (closeWatch_ >= 0) {
        close(closeWatch_);
        closeWatch_ = -1;
    }
    // The stop outlives every descriptor of the terminal: the next opener
    // would find the line still held.
    if (slaveHold_ < 0)
        slaveHold_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slaveHold_ < 0 || tcflow(slaveHold_, TCOON) != 0) {
        log_.note(std::string("cannot release the line: ") + std::strerror(errno));
        return;
    }
    lineHeld_ = false;
    log_.note("fault: line released");
}

void BoxServer::closedAndOpenedAgain()
{
    log_.note("line closed and opened again by the other end");
    // The close resets a stalled adapter, however soon the port is back.
    if (lineHeld_)
        releaseLine();
}

bool BoxServer::takeWhileClosed()
{
    // The program opened the port, wrote and closed it again between two
    // looks: the box still gets the bytes, as it would on a real line, but
    // what it answers goes to a closed port and is lost.
    readLine();
    // Unless the program has opened the port again while the box read (a
    // write closes the port and a read opens it at once): then the bytes
    // read may hold its new request, and the answer goes out, as a real line
    // delivers to a port that is open again by the time the answer comes.
    if (!hungUp(lookAtLine()))
        return false;
    log_.note("line opened and closed again by the other end between two looks");
    if (out_.size() > sent_)
        log_.note("dropped " + std::to_string(out_.size() - sent_) + " bytes: the line is closed");
    out_.clear();
    sent_ = 0;
    hangUpArmed_ = false;
    return true;
}

void BoxServer::flushLine()
{
    // Bytes handed over but not read would otherwise wait in the line for
    // the next program that opens it; a closed serial port loses them. They
    // sit in two places on the slave's side: the kernel's buffer in between,
    // which a flush of the master's output empties, and the slave's input
    // queue, which only a flush of the slave's own empties. On a
    // pseudo-terminal the master sets the slave's terminal settings, and
    // setting them with a flush (TCSAFLUSH) empties that queue too, so the box
    // never has to open the slave: once the program has the port again
    // (exclusively) no one but root could.
    //
    // That flush also empties the kernel's buffer from the slave towards the
    // box, so a program that opened the port again since the close was seen
    // (the box was busy with the last bytes) would lose its first request:
    // the line is flushed only while it is still closed. What the box sent
    // into a port closed for so short a time is what a real line might
    // deliver too.
    if (!hungUp(lookAtLine())) {
        log_.note("line opened again before it was flushed: left as it is");
        return;
    }
    termios settings{};
    if (tcflush(master_, TCOFLUSH) != 0 || tcgetattr(master_, &settings) != 0
        || tcsetattr(master_, TCSAFLUSH, &settings) != 0)
        log_.note(std::string("cannot flush the line: ") + std::strerror(errno));
}

void BoxServer::dropPartial(const char* why)
{
    const FrameReceiver::Dropped dropped = receiver_.reset();
    receiveDeadline_.reset();
    if (dropped.table) {
        lastTableWhole_ = false;
        log_.note("table dropped after " + std::to_string(dropped.bytes) + " of " + std::to_string(kWrittenSize)
                  + " bytes: " + why);
    } else if (dropped.bytes) {
        log_.note("partial frame of " + std::to_string(dropped.bytes) + " bytes dropped: " + why);
    }
}

} // namespace boxsim
