// The driver's entry point: command line, single instance, initialisation,
// the threads, the main loop and the exit sequence.
#pragma once

namespace qm {

// Runs qmdriver with its process arguments and returns the exit code.
int RunDriver(int argc, const char* const* argv);

}  // namespace qm
