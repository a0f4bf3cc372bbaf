// The state of the link to the modem, kept by the transport.
#pragma once

#include <string_view>

namespace qm {

// The numbers are those of the "Status: %d" log line.
enum class LinkStatus : int {
  kDisconnected = 0,
  kReady = 1,
  kConfiguring = 2,
  kBusy = 3,
  kError = 4,
};

// "disconnected", "ready", "configuring", "busy", "error".
std::string_view LinkStatusText(LinkStatus status);

}  // namespace qm
