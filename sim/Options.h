#pragma once

#include "sim/SampleImage.h"

#include <cstddef>
#include <string>
#include <vector>

namespace boxsim {

// Busy is a customer's only: the unit finds the number busy and no call is made.
enum class Fault { None, Silent, Stop, Error, HangUp, Garbage, StallWrite, CorruptStore, DropCall, Busy };

// A number the dialling unit may call, and what the box behind it does.
struct Customer {
    std::string number;          // 1 to 20 digits
    Fault fault = Fault::None;   // None, Silent, Busy, Stop, Garbage or Error
    std::size_t faultCount = 0;
    std::string imageFile;       // its box's table; empty: the one of --image or --model
};

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
    std::vector<Customer> customers;
    bool help = false;
};

// The largest garbage run a fault may ask for.
constexpr std::size_t kMaxGarbage = 65536;
constexpr std::size_t kMaxBurst = 64;
constexpr std::size_t kMaxCustomers = 1000;
constexpr std::size_t kMaxNumberDigits = 20;
// A --customers file: at most this many bytes, and lines of at most this many.
constexpr std::size_t kMaxCustomersFile = 1 << 20;
constexpr std::size_t kMaxCustomerLine = 4096;

// Fills options from the command line; on a bad command line returns false
// and says why in error.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

const char* usageText();

} // namespace boxsim
