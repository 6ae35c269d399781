#include "sim/Options.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <set>
#include <sys/stat.h>

namespace boxsim {
namespace {

bool parseCount(const std::string& text, std::size_t max, std::size_t& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    std::size_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<std::size_t>(c - '0');
    }
    if (v > max)
        return false;
    value = v;
    return true;
}

bool parseFault(const std::string& text, Options& options)
{
    if (text == "silent") {
        options.fault = Fault::Silent;
        return true;
    }
    if (text == "error") {
        options.fault = Fault::Error;
        return true;
    }
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string kind = text.substr(0, colon);
    const std::string count = text.substr(colon + 1);
    if (kind == "stop" && parseCount(count, kImageSize, options.faultCount)) {
        options.fault = Fault::Stop;
        return true;
    }
    if (kind == "hangup" && parseCount(count, kImageSize, options.faultCount)) {
        options.fault = Fault::HangUp;
        return true;
    }
    // A line held after the whole table would cut nothing short.
    if (kind == "stall-write" && parseCount(count, kWrittenSize - 1, options.faultCount)) {
        options.fault = Fault::StallWrite;
        return true;
    }
    if (kind == "corrupt-store" && parseCount(count, kWrittenSize - 1, options.faultCount)) {
        options.fault = Fault::CorruptStore;
        return true;
    }
    if (kind == "drop-call" && parseCount(count, kImageSize, options.faultCount)) {
        options.fault = Fault::DropCall;
        return true;
    }
    if (kind == "garbage" && parseCount(count, kMaxGarbage, options.faultCount)) {
        options.fault = Fault::Garbage;
        return true;
    }
    return false;
}

// The program finds the box through a link named comN: accept "comN" in any
// case with a port number of 1 to 255, and nothing that could leave the folder.
bool parseLink(const std::string& text, std::string& link)
{
    if (text.size() < 4 || text.size() > 6)
        return false;
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.compare(0, 3, "com") != 0)
        return false;
    std::size_t number = 0;
    if (!parseCount(lower.substr(3), 255, number) || number == 0 || lower[3] == '0')
        return false;
    link = lower;
    return true;
}

// NUMBER:FAULT[:IMAGEFILE], FAULT one of ok, no-answer, busy, stop:N,
// garbage:N, error. The image file takes the rest of the text, colons included.
bool parseCustomer(const std::string& text, Customer& customer, std::string& error)
{
    const std::size_t colon = text.find(':');
    const std::string number = text.substr(0, colon);
    if (number.empty() || number.size() > kMaxNumberDigits
        || number.find_first_not_of("0123456789") != std::string::npos) {
        error = "a customer's number is 1 to 20 digits, not '" + number + "'";
        return false;
    }
    if (colon == std::string::npos) {
        error = "customer " + number + " needs a fault: ok, no-answer, busy, stop:N, garbage:N or error";
        return false;
    }
    std::string rest = text.substr(colon + 1);
    auto take = [&rest]() {
        const std::size_t at = rest.find(':');
        const std::string field = rest.substr(0, at);
        rest = at == std::string::npos ? std::string() : rest.substr(at + 1);
        return std::make_pair(field, at != std::string::npos);
    };
    auto [kind, more] = take();
    customer = Customer{};
    customer.number = number;
    if (kind == "no-answer")
        customer.fault = Fault::Silent;
    else if (kind == "busy")
        customer.fault = Fault::Busy;
    else if (kind == "error")
        customer.fault = Fault::Error;
    else if (kind == "stop" || kind == "garbage") {
        // A table cut short holds less than a whole image; garbage is at least a byte.
        const bool stop = kind == "stop";
        const auto [count, after] = take();
        if (!parseCount(count, stop ? kImageSize - 1 : kMaxGarbage, customer.faultCount)
            || (!stop && customer.faultCount == 0)) {
            error = "customer " + number + ": " + kind + " takes a byte count of " + (stop ? "0 to 2066" : "1 to 65536")
                + ", not '" + count + "'";
            return false;
        }
        customer.fault = stop ? Fault::Stop : Fault::Garbage;
        more = after;
    } else if (kind != "ok") {
        error = "customer " + number + ": unknown fault '" + kind + "'";
        return false;
    }
    if (more && rest.empty()) {
        error = "customer " + number + ": an image file name is missing after the last ':'";
        return false;
    }
    customer.imageFile = rest;
    return true;
}

// Options without a value: false when arg is not one of them.
bool setSwitch(const std::string& arg, Options& options)
{
    if (arg == "--help" || arg == "-h")
        options.help = true;
    else if (arg == "--fast")
        options.fast = true;
    else if (arg == "--unit")
        options.unit = true;
    else if (arg == "--reply-error")
        options.replyError = true;
    else if (arg == "--need-dial")
        options.needDial = true;
    else
        return false;
    return true;
}

// What the options taking a value have learnt so far, beyond Options itself.
struct ValueState {
    bool faultGiven = false;
    std::set<std::string> numbers;
};

using ValueSetter = bool (*)(const std::string& arg, const std::string& value, Options& options, ValueState& state,
                             std::string& error);

bool setModel(const std::string&, const std::string& value, Options& options, ValueState&, std::string& error)
{
    if (value == "22")
        options.model = Model::Kolvar22;
    else if (value == "1")
        options.model = Model::Kolvar1;
    else {
        error = "--model takes 22 or 1, not '" + value + "'";
        return false;
    }
    options.modelGiven = true;
    return true;
}

bool setFileName(const std::string& arg, const std::string& value, Options& options, ValueState&, std::string& error)
{
    if (value.empty()) {
        error = arg + " needs a file name";
        return false;
    }
    (arg == "--image"  ? options.imageFile
     : arg == "--save" ? options.saveFile
     : arg == "--log"  ? options.logFile
                       : options.stateFile) = value;
    return true;
}

bool setLink(const std::string&, const std::string& value, Options& options, ValueState&, std::string& error)
{
    if (!parseLink(value, options.link)) {
        error = "--link takes a port name com1 to com255, not '" + value + "'";
        return false;
    }
    return true;
}

bool setBurst(const std::string&, const std::string& value, Options& options, ValueState&, std::string& error)
{
    if (!parseCount(value, kMaxBurst, options.burst) || options.burst == 0) {
        error = "--burst takes a byte count of 1 to 64, not '" + value + "'";
        return false;
    }
    return true;
}

bool setFault(const std::string&, const std::string& value, Options& options, ValueState& state, std::string& error)
{
    if (state.faultGiven) {
        error = "only one --fault at a time";
        return false;
    }
    if (!parseFault(value, options)) {
        error = "unknown fault '" + value + "'";
        return false;
    }
    state.faultGiven = true;
    return true;
}

bool addCustomer(const std::string& text, Options& options, ValueState& state, std::string& error)
{
    Customer customer;
    if (!parseCustomer(text, customer, error))
        return false;
    if (options.customers.size() >= kMaxCustomers) {
        error = "at most " + std::to_string(kMaxCustomers) + " customers";
        return false;
    }
    if (!state.numbers.insert(customer.number).second) {
        error = "customer " + customer.number + " is given twice";
        return false;
    }
    options.customers.push_back(std::move(customer));
    return true;
}

bool setCustomer(const std::string&, const std::string& value, Options& options, ValueState& state,
                 std::string& error)
{
    return addCustomer(value, options, state, error);
}

// One customer a line as --customer takes it; empty lines and lines starting
// with # say nothing.
bool setCustomersFile(const std::string&, const std::string& value, Options& options, ValueState& state,
                      std::string& error)
{
    // A regular file only: a pipe or a device could keep the simulator waiting.
    struct stat st{};
    std::ifstream in;
    if (!value.empty() && stat(value.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        in.open(value, std::ios::binary);
    if (!in.is_open()) {
        error = "cannot read the customers file '" + value + "'";
        return false;
    }
    std::string text(kMaxCustomersFile + 1, '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        error = "cannot read the customers file '" + value + "'";
        return false;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxCustomersFile) {
        error = "the customers file " + value + " is larger than 1 MiB";
        return false;
    }
    std::size_t lineNumber = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > kMaxCustomerLine) {
            error = value + ":" + std::to_string(lineNumber) + ": line longer than 4096 characters";
            return false;
        }
        if (line.empty() || line[0] == '#')
            continue;
        if (!addCustomer(line, options, state, error)) {
            error = value + ":" + std::to_string(lineNumber) + ": " + error;
            return false;
        }
    }
    return true;
}

struct ValueOption {
    const char* name;
    ValueSetter set;
};

const ValueOption kValueOptions[] = {
    {"--model", setModel}, {"--image", setFileName}, {"--save", setFileName}, {"--log", setFileName},
    {"--state", setFileName}, {"--link", setLink}, {"--burst", setBurst}, {"--fault", setFault},
    {"--customer", setCustomer}, {"--customers", setCustomersFile},
};

ValueSetter valueSetter(const std::string& arg)
{
    for (const ValueOption& option : kValueOptions)
        if (arg == option.name)
            return option.set;
    return nullptr;
}

// Options that only make sense together, or not at all together.
bool checkCombinations(const Options& options, std::string& error)
{
    if ((options.replyError || options.needDial || options.fault == Fault::DropCall || !options.customers.empty())
        && !options.unit) {
        error = "--reply-error, --need-dial, --customer and --fault drop-call describe the dialling unit: they need "
                "--unit";
        return false;
    }
    if (options.modelGiven && !options.imageFile.empty()) {
        error = "--model and --image exclude each other";
        return false;
    }
    return true;
}

} // namespace

bool parseOptions(int argc, char** argv, Options& options, std::string& error)
{
    ValueState state;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        const std::size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        if (setSwitch(arg, options))
            continue;
        const ValueSetter set = valueSetter(arg);
        if (!set) {
            error = "unknown argument '" + arg + "'";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (!set(arg, value, options, state, error))
            return false;
    }
    if (!checkCombinations(options, error))
        return false;
    // A unit that tells its customers apart answers for a box only within a call to it.
    if (!options.customers.empty())
        options.needDial = true;
    return true;
}

const char* usageText()
{
    return "Usage: pradix-boxsim [options]\n"
           "A stand-in Kolvar box and dialling unit on a pseudo-terminal. The first\n"
           "line on standard output is the device path to open.\n"
           "\n"
           "  --model 22|1      built-in sample table of a Kolvar22 (default) or a Kolvar1\n"
           "  --image FILE      serve the 2067-byte image in FILE instead\n"
           "  --link comN       make the port link comN in $XDG_CONFIG_HOME/pradix/ports/\n"
           "                    (default ~/.config/pradix/ports/) while running; an existing\n"
           "                    comN is never replaced, unless it is a link left by a\n"
           "                    simulator to a pseudo-terminal that is gone\n"
           "  --save FILE       after every table the box takes, write the 2067-byte image\n"
           "                    it then holds (the table and clock received, its own\n"
           "                    device text) to FILE; --image FILE serves it again\n"
           "  --log FILE        time-stamped log: RX lines (hex of each chunk received),\n"
           "                    FRAME lines (each recognised frame), PIECE lines (each\n"
           "                    chunk of a written table: \"+MS at OFFSET: HEX\", MS since\n"
           "                    the write request), NOTE lines (events). With --unit every\n"
           "                    dial (\"FRAME dial NUMBER ...\", \"NOTE call to NUMBER\")\n"
           "                    and every hang-up (\"FRAME hangup ...\") is there, and a\n"
           "                    simulator stopped with no hang-up since the last dial\n"
           "                    says \"NOTE stopped with the line taken\"\n"
           "  --state FILE      what the box holds, one line rewritten whole at the start and\n"
           "                    after every change: \"old\" (the table it started with),\n"
           "                    \"new\" (a whole table written since) or \"partial N\" (only\n"
           "                    the first N bytes of a table taken over its old one: a\n"
           "                    program told the box to keep a table cut short)\n"
           "  --fast            send at once instead of at the pace of 9600 baud 8N1\n"
           "  --burst N         bytes handed over at a time at line pace (1..64, default 4)\n"
           "  --unit            be the dialling unit with the customer's box behind it:\n"
           "                    besides the box's own requests, answer the remote read\n"
           "                    02 01 05 and the remote write 02 01 06, and keep track of\n"
           "                    the call (dial and hang-up frames); without it the box is\n"
           "                    alone on the line and leaves those unanswered. A table\n"
           "                    written to the unit waits there, whole or not, until\n"
           "                    02 01 06 hands it to the box, which keeps it over its old\n"
           "                    one; a table cut short is kept in part\n"
           "  --reply-error     (with --unit) the box refuses every table: every remote\n"
           "                    write is answered 02 03 08 and the box keeps its old one\n"
           "  --need-dial       (with --unit) leave remote reads and writes unanswered\n"
           "                    unless a number has been dialled since the last hang-up,\n"
           "                    as a line without a call stays silent\n"
           "  --customer NUMBER:FAULT[:IMAGEFILE]\n"
           "                    (with --unit; up to 1000 times) what the box behind the\n"
           "                    dialled NUMBER (1 to 20 digits) does when the unit calls\n"
           "                    it; implies --need-dial. FAULT is one of:\n"
           "                      ok         answer as a box does\n"
           "                      no-answer  the call goes out and no one answers:\n"
           "                                 remote reads and writes stay unanswered\n"
           "                      busy       the number is busy: no call is made, and\n"
           "                                 nothing answers until the next dial\n"
           "                      stop:N     send only the first N bytes (0..2066) of\n"
           "                                 its image\n"
           "                      garbage:N  send N garbage bytes (1..65536) before it\n"
           "                      error      answer every remote read and write with\n"
           "                                 the error frame 02 03 08\n"
           "                    IMAGEFILE is the 2067-byte image that box holds (another\n"
           "                    table than that of --image or --model); a table written\n"
           "                    to it stays in memory. A customer's fault replaces --fault\n"
           "                    on the remote reads of calls to it; a number not given\n"
           "                    is answered as without --customer\n"
           "  --customers FILE  customers as --customer takes them, one a line (at most\n"
           "                    1 MiB; empty lines and lines starting with # are skipped)\n"
           "  --fault MODE      misbehave on every read request:\n"
           "                      silent     never answer anything\n"
           "                      stop:N     send only the first N bytes of the image\n"
           "                      error      answer with the error frame 02 03 08\n"
           "                      hangup:N   send N bytes, then hang up the line and end\n"
           "                      garbage:N  send N garbage bytes before the image\n"
           "                      drop-call:N  (with --unit) send N bytes, then the call\n"
           "                                 ends from the unit's side: with --need-dial\n"
           "                                 the box answers nothing more until a new dial\n"
           "                    or on every written table:\n"
           "                      stall-write:N  hold the line once N bytes (0..2050) of\n"
           "                                 the table after 02 01 02 have arrived, as a\n"
           "                                 stalled adapter does: the program's writes\n"
           "                                 then time out. The line is let go when the\n"
           "                                 program closes the port, for the next table.\n"
           "                                 To hold the line the simulator keeps the\n"
           "                                 device open itself, so until a table has\n"
           "                                 been held it does not see the port closed:\n"
           "                                 an answer sent meanwhile waits for the next\n"
           "                                 opening instead of being lost\n"
           "                      corrupt-store:N  keep the table with byte N (0..2050)\n"
           "                                 changed, its lowest bit flipped, as a failing\n"
           "                                 memory cell would: a later read sends it\n"
           "  --help            show this text\n"
           "\n"
           "Requests: 02 01 01 (and, with --unit, 02 01 05) read the image; 02 01 02 and\n"
           "2051 bytes write it (the device text stays); with --unit they reach the box\n"
           "only with 02 01 06, answered 02 03 07 when the table arrived whole, else\n"
           "02 03 08; dial (02 L 03 digits) and hang-up (02 03 03 02 02) frames are\n"
           "logged. A frame or table left unfinished for 2 s, or when the other end\n"
           "closes the device, is dropped (the unit keeps what it had of a table).\n"
           "SIGINT or SIGTERM end the simulator and remove its link.\n";
}

} // namespace boxsim
