// Turning termination signals into an ordinary event of the main loop.
//
// A SignalWatcher catches the given signals with a handler that only writes
// the signal number into a pipe; its own thread reads the pipe and calls the
// callback there, so the callback may lock, log and post commands freely.
//
// Process-wide settings belong to the main thread at start-up, before other
// threads exist: ApplySignalDefaults ignores SIGPIPE (a closed socket or pipe
// then gives EPIPE instead of killing the driver) and, for the service, SIGHUP
// (there is no terminal to hang up; an administrator's "kill -HUP" must not end
// the driver without its exit sequence). SIGCHLD is never touched. Ignored
// signals stay ignored across exec: code that starts programs resets them to
// their defaults (posix_spawn with POSIX_SPAWN_SETSIGDEF).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

namespace qm {

// SIGTERM and SIGINT, plus SIGHUP in tray mode (the terminal went away).
std::vector<int> ShutdownSignals(bool trayMode);

// Ignores SIGPIPE, and SIGHUP when not in tray mode.
void ApplySignalDefaults(bool trayMode);

class SignalWatcher {
 public:
  using Callback = std::function<void(int signal)>;

  // Catches `signals` until destruction and calls `onSignal` on the watcher's
  // thread for each one received (a burst of the same signal may arrive as
  // fewer calls). Only one watcher may exist at a time. The signals are
  // unblocked in the calling thread, which should be the main thread.
  SignalWatcher(std::vector<int> signals, Callback onSignal);
  ~SignalWatcher();  // restores the previous handlers, then stops the thread
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // False when the pipe or a handler could not be set up.
  bool ok() const { return ok_; }

  // The last signal received (0: none yet). Any thread.
  int LastSignal() const { return last_.load(); }

  // Waits until a signal has been received or the time-out passed; true when
  // one was received. Any thread.
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  void Loop(std::stop_token stop);

  const std::vector<int> signals_;
  const Callback onSignal_;
  std::vector<struct sigaction> previous_;
  UniqueFd readEnd_;
  UniqueFd writeEnd_;
  bool ok_ = false;
  std::atomic<int> last_{0};
  std::mutex mutex_;
  std::condition_variable received_;
  std::jthread thread_;  // last: stopped before the members it uses go away
};

}  // namespace qm
