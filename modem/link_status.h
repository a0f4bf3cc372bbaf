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

// Connected: ready, or busy with a command.
constexpr bool IsLinkUp(LinkStatus status) { return status == LinkStatus::kReady || status == LinkStatus::kBusy; }

// Connected or on the way there: a Connect would change nothing.
constexpr bool IsLinkUpOrComing(LinkStatus status) {
  return IsLinkUp(status) || status == LinkStatus::kConfiguring;
}

}  // namespace qm
