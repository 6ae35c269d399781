#pragma once

namespace soak {

// Nightly audits (`pradix-tool audit run`) over a few customers, two
// dialling units, the box behind each number misbehaving in a way picked at
// random; one run is stopped at a random moment and resumed. Prints one line
// per failed run and the BENCH lines; returns the exit status.
int runAudit(long cycles, unsigned seed, bool verbose);

} // namespace soak
