// The synchronous waiters of USSD requests: each request sent on behalf of a
// client that waits for the answer has a waiter here, keyed by its request
// number, until the client collects the reply or the waiter times out.
//
// Threads: every member from any thread. One mutex guards the queue; the clock
// is read before it is taken, and nothing blocks while it is held.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace qm {

// The numbers are seen by automation clients.
enum class UssdWaitState { kWaiting = 0, kReplied = 2, kUnknown = 3 };

class USSDSyncObserverQueue {
 public:
  // Seconds since 1970.
  using Clock = std::function<int64_t()>;

  struct PollResult {
    bool finished = false;
    UssdWaitState state = UssdWaitState::kWaiting;
    std::string reply;
  };

  // Without a clock: the wall clock, time(nullptr).
  explicit USSDSyncObserverQueue(Clock clock = {});
  USSDSyncObserverQueue(const USSDSyncObserverQueue&) = delete;
  USSDSyncObserverQueue& operator=(const USSDSyncObserverQueue&) = delete;

  // The next request number (from 1), for every client of the queue alike.
  uint32_t NextRequestNumber() { return sequence_.fetch_add(1) + 1; }

  // A new waiter at the end, waiting from now.
  void Add(uint32_t requestNumber, int timeoutSeconds);

  // Finished with kUnknown when no waiter has that number; finished with the
  // reply (the waiter leaves) once it has one; otherwise not finished.
  PollResult Poll(uint32_t requestNumber);

  // Hands a reply to the newest of the waiters that lead the queue still
  // waiting (a new request ends the session of the ones before it), or, when
  // the first waiter already has its reply, to the first one still waiting.
  // A reply that is not `final` (the text of a network release, which the real
  // answer may follow) is kept aside and the waiter keeps waiting; a later
  // reply of either kind replaces it.
  void Deliver(const std::string& reply, bool final);

  // Drops the waiters whose time is up; one holding a provisional reply gets
  // that as its reply instead, for the next Poll. A reply nobody polls for
  // goes five minutes after its waiter's time.
  void RemoveExpired();

 private:
  struct Waiter {
    uint32_t requestNumber = 0;
    int64_t start = 0;
    int timeoutSeconds = 0;
    UssdWaitState state = UssdWaitState::kWaiting;
    std::string reply;
    bool provisional = false;  // `reply` is a release text, not yet final
  };

  Clock clock_;
  std::atomic<uint32_t> sequence_{0};
  std::mutex mutex_;
  std::deque<Waiter> waiters_;
};

}  // namespace qm
