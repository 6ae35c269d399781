#pragma once

#include <string>
#include <vector>

struct Program;

namespace soak {

class SoakDialogs;

// Remote sessions through the address book against the box simulator as the
// dialling unit, one fault picked at random per cycle among `faults` (all of
// them when empty). Prints one line per failed cycle, a count per fault and
// the BENCH lines; returns the exit status. An unknown fault name is said on
// stderr and gives 2.
int runRemote(Program& program, SoakDialogs& dialogs, long cycles, unsigned seed,
              const std::vector<std::string>& faults, bool verbose);

} // namespace soak
