// The qmctl commands that talk to a running driver. Each takes the arguments
// after its name, prints its result on standard output (text, or one JSON
// object per line with --json) and returns the exit status; a failure that
// ends it early is thrown as CommandFailure.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/qmctl/arguments.h"

namespace qm {

using CommandArgs = std::vector<std::string>;

int RunStatus(const CommandArgs& args);
int RunConnect(const CommandArgs& args, bool connect);
int RunAt(const CommandArgs& args);
int RunConfig(const CommandArgs& args);
int RunSend(const CommandArgs& args);
int RunUssd(const CommandArgs& args);
int RunMemory(const CommandArgs& args);
int RunWatch(const CommandArgs& args);

// Prints "qmctl: <problem>" and the usage text on standard error; returns 2.
int UsageError(const std::string& problem, const char* usage);
// Prints the usage text on standard output; returns 0.
int ShowUsage(const char* usage);
// The arguments of a command, or nothing when it is done already: its help
// was asked for (`status` 0) or its usage is wrong (2, after telling so).
std::optional<Arguments> ParseCommand(const CommandArgs& args, const OptionSpec& spec, const char* usage, int& status);
// Writes one line of output.
void PrintLine(const std::string& line);

}  // namespace qm
