#pragma once

#include "sim/SampleImage.h"

#include <cstddef>
#include <string>

namespace boxsim {

enum class Fault { None, Silent, Stop, Error, HangUp, Garbage, StallWrite, CorruptStore, DropCall };

struct Options {
    Model model = Model::Kolvar22;
    bool modelGiven = false;
    std::string imageFile;
    std::string link;        // "comN", lower case, empty for none
    std::string saveFile;
    std::string logFile;
    std::string stateFile;
    bool fast = false;
    std::size_t burst = 4;   // bytes handed over at a time at line pace
    Fault fault = Fault::None;
    std::size_t faultCount = 0;
    // A dialling unit with the customer's box behind it, not a box alone on the line.
    bool unit = false;
    bool replyError = false;   // the remote box refuses every table it is told to take
    bool needDial = false;     // remote reads and writes reach the box only during a call
    bool help = false;
};

// The largest garbage run a fault may ask for.
constexpr std::size_t kMaxGarbage = 65536;
constexpr std::size_t kMaxBurst = 64;

// Fills options from the command line; on a bad command line returns false
// and says why in error.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

const char* usageText();

} // namespace boxsim
