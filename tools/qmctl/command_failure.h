// How a qmctl command ends: its exit status, and the failure that carries one
// out of a command to main, which prints "qmctl: <text>".
#pragma once

#include <stdexcept>
#include <string>

namespace qm {

enum class ExitCode : int {
  kOk = 0,
  kRefused = 1,   // the driver said no (its own text), or a message failed
  kUsage = 2,     // wrong usage, or an argument the driver refuses as invalid
  kNoDriver = 3,  // no driver runs, the bus cannot be reached, or the driver left
  kTimeout = 4,   // the driver or the bus did not answer in time
};

inline int ToInt(ExitCode code) { return static_cast<int>(code); }

class CommandFailure : public std::runtime_error {
 public:
  CommandFailure(ExitCode code, const std::string& text) : std::runtime_error(text), code_(code) {}
  ExitCode code() const { return code_; }

 private:
  ExitCode code_;
};

}  // namespace qm
