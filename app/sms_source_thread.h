// The source thread: one pass per second over the configured SMS sources.
//
// Each pass waits one beat (1000 ms), then calls the fetch function with the
// pass number (1, 2, 3, ...). The fetch function does the pass's work: under
// the sources lock, fetch every source whose period divides the pass number
// (SourceList::Poll), log and keep what they return, leave the lock, then post one
// source-message command per kept message. A stop ends the wait at once; a
// pass that is running finishes first.
//
// Threads: Start, Stop and the destructor belong to the owning (main)
// thread; SignalStop may be called from any thread. The fetch function runs
// on the source thread only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

namespace qm {

class SMSSourceThread {
 public:
  using FetchPass = std::function<void(uint32_t pass)>;

  explicit SMSSourceThread(FetchPass fetch, std::chrono::milliseconds beat = std::chrono::milliseconds(1000));
  virtual ~SMSSourceThread();  // stops and joins the thread
  SMSSourceThread(const SMSSourceThread&) = delete;
  SMSSourceThread& operator=(const SMSSourceThread&) = delete;

  // Starts the loop (a running one is stopped first); the pass counter starts at 1.
  void Start();
  // Asks the loop to end; a waiting beat ends at once.
  void SignalStop();
  // SignalStop, then waits for the thread to end.
  void Stop();

 private:
  void Loop(std::stop_token stop);

  const FetchPass fetch_;
  const std::chrono::milliseconds beat_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::jthread thread_;  // last: stopped before the members it uses go away
};

}  // namespace qm
