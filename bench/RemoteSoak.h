#pragma once

#include <string>
#include <vector>

struct Program;

namespace soak {

class SoakDialogs;
class NoPacer;

// Remote sessions through the address book against the box simulator as the
// dialling unit, one fault picked at random per cycle among `faults` (all of
// them when empty). Prints one line per failed cycle, a count per fault and
// the BENCH lines; returns the exit status. An unknown fault name is said on
// stderr and gives 2.
// The pacer is the windows' own: the soak holds each pause until the unit has
// taken every byte written, so a held line stops the program where it holds.
int runRemote(Program& program, SoakDialogs& dialogs, NoPacer& pacer, long cycles, unsigned seed,
              const std::vector<std::string>& faults, bool verbose);

} // namespace soak
