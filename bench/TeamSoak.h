#pragma once

namespace soak {

// Shared nightly audits (`pradix-tool audit run --join`) on a PostgreSQL
// server of the soak's own: three runners with two units each over a few
// dozen customers; in each cycle one runner is killed at a random moment and
// another is cut off from the server once. Prints one line per failed cycle
// and the BENCH lines; returns the exit status.
int runTeam(long cycles, unsigned seed, bool verbose);

} // namespace soak
