// The counters of a running driver.
//
// Threads: `received` belongs to the command thread; the failure counter is
// changed by the command thread and read by any (the status file).
#pragma once

#include <atomic>
#include <cstdint>

namespace qm {

class DriverCounters {
 public:
  static constexpr int kMaxFailures = 10;

  // Incoming messages processed since start.
  uint32_t received = 0;

  // Raised for each finally failed message while below 10, lowered for each
  // sent one while above 0.
  void CountFailure(bool failed) {
    int count = failures_.load();
    while (failed ? count < kMaxFailures : count > 0) {
      if (failures_.compare_exchange_weak(count, failed ? count + 1 : count - 1)) break;
    }
  }
  int Failures() const { return failures_.load(); }

 private:
  std::atomic<int> failures_{0};
};

}  // namespace qm
