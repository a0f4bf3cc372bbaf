// The texts the driver shows for a port that cannot be used.
#pragma once

#include <string>

#include "platform/errors.h"

namespace qm {

inline constexpr const char* kPortNotFoundText =
    "The port '%s' can't be opened.\nPlease check the serial connection.";
inline constexpr const char* kPortNotSetText = "The COM port is not set. Please setup COM port before connection!";

// The explanation of a failed Open, Configure or SetTimeouts: a port that does
// not exist names the port, an empty port name asks for one to be set, and
// anything else is the system's own text.
inline std::string PortErrorText(const SysError& error, const std::string& portName) {
  if (error.code == kErrFileNotFound) {
    std::string text = kPortNotFoundText;
    text.replace(text.find("%s"), 2, portName);
    return text;
  }
  if (error.code == kErrInvalidName) return kPortNotSetText;
  return error.text;
}

}  // namespace qm
