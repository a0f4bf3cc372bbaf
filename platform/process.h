// Starting other programs.
#pragma once

#include <string>
#include <vector>

namespace qm {

// Starts a program with the given argument vector (argv[0] looked up on PATH)
// without a shell and without waiting for it; the program is not our child
// for long, so it never becomes a zombie of ours. True when it was started.
bool SpawnDetached(const std::vector<std::string>& argv);

}  // namespace qm
