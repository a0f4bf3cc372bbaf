// The counters of a running driver.
//
// Threads: `received` belongs to the command thread; the failure counter and
// the totals are changed by the command thread and read by any (the status
// file, the web server's metrics).
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

  // Totals since start, only ever rising (what monitoring rates are made of).
  std::atomic<uint64_t> sentTotal{0};
  std::atomic<uint64_t> failedTotal{0};  // finally failed, after the retries
  std::atomic<uint64_t> receivedTotal{0};
  std::atomic<uint64_t> deliveredTotal{0};  // positive delivery reports
  std::atomic<uint64_t> retries{0};         // failed submissions queued again
  std::atomic<uint64_t> reconnects{0};
  std::atomic<int64_t> lastSubmission{0};  // Unix time of the last message sent; 0: none yet

 private:
  std::atomic<int> failures_{0};
};

}  // namespace qm
