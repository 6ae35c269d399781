// pradix-boxsim: a stand-in Kolvar box and dialling unit on a pseudo-terminal.

#include "sim/BoxServer.h"
#include "sim/Options.h"
#include "sim/Pty.h"
#include "sim/SampleImage.h"
#include "sim/SimLog.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <utility>
#include <vector>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    stopRequested = 1;
}

bool loadImage(const std::string& path, boxsim::Image& image, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the image " + path;
        return false;
    }
    // One byte more than an image, to tell a longer file from an exact one.
    char buffer[boxsim::kImageSize + 1];
    in.read(buffer, sizeof buffer);
    const std::streamsize got = in.gcount();
    if (in.bad() || got != static_cast<std::streamsize>(boxsim::kImageSize)) {
        error = "the image " + path + " must hold exactly 2067 bytes";
        return false;
    }
    std::memcpy(image.data(), buffer, boxsim::kImageSize);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    boxsim::Options options;
    std::string error;
    if (!boxsim::parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "pradix-boxsim: %s\n\n%s", error.c_str(), boxsim::usageText());
        return 2;
    }
    if (options.help) {
        // A reader that stops after the first lines must not end us with a signal.
        std::signal(SIGPIPE, SIG_IGN);
        std::fputs(boxsim::usageText(), stdout);
        return 0;
    }

    boxsim::Image image = boxsim::sampleImage(options.model);
    if (!options.imageFile.empty() && !loadImage(options.imageFile, image, error)) {
        std::fprintf(stderr, "pradix-boxsim: %s\n", error.c_str());
        return 1;
    }

    // Each customer's box with a table of its own, read before anything starts.
    std::vector<std::optional<boxsim::Image>> customerImages;
    for (const boxsim::Customer& customer : options.customers) {
        customerImages.emplace_back();
        if (customer.imageFile.empty())
            continue;
        customerImages.back().emplace();
        if (!loadImage(customer.imageFile, *customerImages.back(), error)) {
            std::fprintf(stderr, "pradix-boxsim: customer %s: %s\n", customer.number.c_str(), error.c_str());
            return 1;
        }
    }

    boxsim::SimLog log;
    if (!options.logFile.empty() && !log.open(options.logFile, error)) {
        std::fprintf(stderr, "pradix-boxsim: %s\n", error.c_str());
        return 1;
    }

    // Stop signals are blocked except while the box waits in ppoll(), so a
    // stop is never lost between checking the flag and going to sleep.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGHUP);
    struct sigaction action{};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int master = -1;
    std::string slavePath;
    if (!boxsim::openPty(master, slavePath, error)) {
        std::fprintf(stderr, "pradix-boxsim: %s\n", error.c_str());
        return 1;
    }

    // The box takes what it needs of the line (a descriptor of its own, for
    // the faults that hold it) before anyone learns where the line is, by its
    // link or its path: once the program has opened the port, only root could
    // still open it.
    boxsim::BoxServer server(master, slavePath, options, image, log, std::move(customerImages));
    boxsim::PortLink link;
    if (!options.link.empty() && !link.create(options.link, slavePath, error)) {
        std::fprintf(stderr, "pradix-boxsim: %s\n", error.c_str());
        close(master);
        return 1;
    }

    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);
    log.note("serving " + slavePath + (link.path().empty() ? "" : " linked as " + link.path()));

    const int status = server.run(stopRequested, waitMask);
    link.remove();
    return status;
}
