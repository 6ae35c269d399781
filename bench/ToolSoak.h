#pragma once

#include <string>
#include <vector>

namespace soak {

// Remote sessions run by `pradix-tool remote read|write` as a script runs
// it, one child process per cycle, against the box simulator as the dialling
// unit with one fault picked at random among `faults` (all when empty).
// Prints one line per failed cycle, a count per fault and the BENCH lines;
// returns the exit status. An unknown fault name is said on stderr and gives 2.
int runTool(long cycles, unsigned seed, const std::vector<std::string>& faults, bool verbose);

} // namespace soak
