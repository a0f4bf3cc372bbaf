// The switches that do one thing and end the process: "RegServer",
// "UnregServer", "unreg", "init" and "viewauthor".
#pragma once

#include <string>

#include "app/command_line.h"

namespace qm {

// Runs the action of options.exitSwitch and returns the exit code.
int RunExitSwitch(const StartupOptions& options, const std::string& programFolder);

}  // namespace qm
