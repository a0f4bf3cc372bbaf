// The levels of log lines, lowest first. Layers below the logger report
// through callbacks that take a level.
#pragma once

namespace qm {

enum class LogLevel : int {
  kDetail = 0,
  kWarning = 1,
  kError = 2,
  kPortFailure = 3,  // serial port failures
};

}  // namespace qm
