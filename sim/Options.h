#pragma once

#include "sim/SampleImage.h"

#include <cstddef>
#include <string>

namespace boxsim {

enum class Fault { None, Silent, Stop, Error, HangUp, Garbage };

struct Options {
    Model model = Model::Kolvar22;
    bool modelGiven = false;
    std::string imageFile;
    std::string link;        // "comN", lower case, empty for none
    std::string saveFile;
    std::string logFile;
    bool fast = false;
    std::size_t burst = 4;   // bytes handed over at a time at line pace
    Fault fault = Fault::None;
    std::size_t faultCount = 0;
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
