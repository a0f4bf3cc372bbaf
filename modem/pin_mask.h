// Log lines never show the SIM's PIN or PUK.
#pragma once

#include <string>
#include <string_view>

#include "platform/utf.h"

namespace qm {

// "AT+CPIN=1234" (or an echo of it) becomes "AT+CPIN=****"; other lines are
// returned as they are. Pure.
inline std::string MaskPin(std::string_view line) {
  constexpr std::string_view kCommand = "+cpin=";
  const std::string lower = AsciiLowerCopy(line);
  const std::size_t at = lower.find(kCommand);
  if (at == std::string::npos) return std::string(line);
  const std::size_t value = at + kCommand.size();
  std::size_t end = line.find_first_of("\r\n", value);
  if (end == std::string_view::npos) end = line.size();
  return std::string(line.substr(0, value)) + "****" + std::string(line.substr(end));
}

}  // namespace qm
