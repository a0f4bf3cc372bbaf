// Names of the driver's status codes, as qmctl prints them.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

// A message's status code: 0 unknown, 1 pending (in the outbox), 2 sent,
// 3 failed, 4 delivered, 5 not delivered.
inline std::string MessageStatusName(uint32_t code) {
  static const char* const kNames[] = {"unknown", "pending", "sent", "failed", "delivered", "not delivered"};
  return code < std::size(kNames) ? kNames[code] : "status " + std::to_string(code);
}

// The modem link: 0 disconnected, 1 ready, 2 configuring, 3 busy, 4 error.
inline std::string ConnectionStatusName(uint32_t code) {
  static const char* const kNames[] = {"disconnected", "ready", "configuring", "busy", "error"};
  return code < std::size(kNames) ? kNames[code] : "status " + std::to_string(code);
}

}  // namespace qm
