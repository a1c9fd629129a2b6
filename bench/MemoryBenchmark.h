// How the peak-memory benchmark starts the program: through this binary run again with
// MEASURE_SWITCH, a process small enough not to count in the peak it reports.
#pragma once

namespace velo::bench {

inline constexpr const char* MEASURE_SWITCH = "--velo-run-for-peak";

// `velo_bench --velo-run-for-peak OUTPUT [MACHINE]`: runs the host program silently (on
// MACHINE, else on its default machine) with its standard output in OUTPUT, and prints its
// wait status and peak resident set in KiB.
int runForPeak(int argc, char** argv);

}  // namespace velo::bench
