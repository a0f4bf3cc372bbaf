// A read-only copy of the modem state for other threads.
//
// The modem state belongs to the command thread and has no locks; the
// automation server reads the model name, the signal strength, the feature
// and failure words and whether a listing runs while a reconnection may be
// rewriting them. The command thread publishes a fresh copy after every
// command it executes, and readers take a copy under the lock.
//
// Threads: Publish on the command thread; Get from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace qm {

struct ModemSnapshot {
  std::string model;
  int signalPercent = 0;
  uint32_t features = 0;
  uint32_t failures = 0;
  bool configured = false;  // the initialisation sequence has reached its final state
  bool listing = false;     // a memory listing (polling or automation) runs
};

class SharedModemSnapshot {
 public:
  void Publish(ModemSnapshot snapshot);
  ModemSnapshot Get() const;

 private:
  mutable std::mutex mutex_;
  ModemSnapshot snapshot_;
};

}  // namespace qm
