// tarvel-probe: checks the line to a PHN130T pH meter through a tarvel
// deliverable, as a host program would use it, so that a lab can tell
// whether a -777 in the host comes from the cable, the port or the meter.
#pragma once

namespace probe {

// The whole program, from its arguments to its exit status; stdout is
// flushed, a CSV file closed.
int Main(int argc, char **argv);

} // namespace probe
