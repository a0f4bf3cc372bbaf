// Running administrator-configured shell commands.
//
// The script text comes from the configuration; every value that a stranger
// controls (a message body, a phone number) travels only as an environment
// variable that the script quotes ("${QM_BODY}"), so no value is ever parsed
// as shell code.
#pragma once

#include <chrono>
#include <cstddef>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace qm {

struct ShellCommand {
  std::string script;            // run as /bin/sh -c script
  std::string workingDirectory;  // empty: the driver's own
  // Added to the driver's environment (a name already there is replaced).
  // Names must be shell identifiers; a value is cut at a NUL byte.
  std::vector<std::pair<std::string, std::string>> environment;
};

enum class ShellOutcome { kFinished, kTimedOut, kNotStarted, kStopped };

struct ShellResult {
  ShellOutcome outcome = ShellOutcome::kNotStarted;
  int exitStatus = -1;  // kFinished: the exit code, or 128 + signal number
  std::string output;   // standard output and error together, as bytes, at most kMaxShellOutput
  std::string error;    // kNotStarted: the system's text for why
};

inline constexpr std::size_t kMaxShellOutput = 1 << 20;

// Runs the script and waits at most `timeout` for it (0: no wait at all: a script
// still running at once is killed and reported kTimedOut). On time-out, or when
// `stop` is requested while waiting (kStopped), the whole process group is killed
// (SIGTERM, then SIGKILL after a short grace) and reaped. Never leaves a zombie.
// A stop requested before the start runs nothing (kStopped). Background jobs of a
// script that ended by itself are left alone.
ShellResult RunShellCommand(const ShellCommand& command, std::chrono::milliseconds timeout,
                            std::stop_token stop = {});

// Starts the script without waiting for it (detached: its own session, stdin/stdout/
// stderr on /dev/null). Never leaves a zombie. Empty on success, else the system's text
// (e.g. the working directory does not exist).
std::string StartShellCommand(const ShellCommand& command);

}  // namespace qm
