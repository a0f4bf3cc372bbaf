// The driver's numbered timers and the thread that fires them.
//
// A timer is an id, the tick it last fired (or was set) and an interval in
// milliseconds. It is due once more than `interval` ms have passed since
// `last`, measured as (uint32)(now - last) so the 49.7-day wrap of the tick
// counter changes nothing; a timer set to fire "on the next pass" carries a
// flag instead of a made-up `last`. Due timers fire in the order they were
// first scheduled. After a handler runs, the timer's `last` becomes the tick
// count read then, or the timer is removed when the handler asks for that.
//
// The thread sleeps until the next timer is due (or Schedule, Cancel or a
// stop wakes it) instead of polling; a due timer fires 1 ms after its
// interval has passed.
//
// Threads: Schedule, Cancel, IsScheduled and IntervalOf may be called from
// any thread, including from inside a handler (the lock is recursive). The
// handler runs on the timer thread with the timer lock held, so a call from
// another thread waits for a running handler to finish: a handler must be
// short (the driver's handlers only post commands), must never wait for a
// thread that might be calling into the timers, must not throw, and must not
// call SetHandler. Start, Stop and the destructor belong to the owning (main)
// thread; SignalStop may be called from anywhere, a handler included.
#pragma once

#include <condition_variable>
#include <stop_token>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace qm {

enum TimerId : uint32_t {
  TIMER_POLL = 1,           // poll the modem memory (periodic)
  TIMER_POLL_DONE = 5,      // end of a polling listing (one-shot)
  TIMER_RESET = 6,          // modem reset (periodic)
  TIMER_STATUS_FILE = 7,    // write the status file (periodic)
  TIMER_SEND_DELAY = 8,     // pacing between two sends (one-shot)
  TIMER_HOUSEKEEPING = 9,   // one-second housekeeping (periodic)
  TIMER_RECONNECT = 10,     // reconnection check (periodic)
  TIMER_RESET_RECONNECT = 11,  // reconnect "modem.reset.sleep" ms after a reset (one-shot)
};

// "TIMER_POLL" ... for the ids above; "" for any other.
std::string_view TimerName(uint32_t id);

// The longest interval a timer takes (about 24.8 days); longer ones are cut
// to it, so a late wake-up can never push a deadline past the tick wrap.
inline constexpr uint32_t kMaxTimerInterval = 0x7FFFFFFF;

// A configured count of seconds (or other units) in milliseconds, computed
// without overflow: 0 for a count of 0 or less, at most kMaxTimerInterval.
uint32_t TimerIntervalMs(int64_t count, uint32_t msPerUnit);

class DriverTimers {
 public:
  enum class HandlerResult { kKeep, kRemove };
  using Handler = std::function<HandlerResult(uint32_t id)>;

  explicit DriverTimers(TickSource ticks = TickCount);
  ~DriverTimers();  // stops and joins the thread
  DriverTimers(const DriverTimers&) = delete;
  DriverTimers& operator=(const DriverTimers&) = delete;

  // The function run for each due timer (it may be set before or after Start).
  void SetHandler(Handler handler);

  // Sets a timer. An existing timer with a different interval restarts its
  // interval now; one with the same interval is left untouched. A new timer
  // starts its interval now with `startNow`, else it fires on the next pass.
  void Schedule(uint32_t id, uint32_t intervalMs, bool startNow);
  // Removes a timer (nothing when it does not exist).
  void Cancel(uint32_t id);

  bool IsScheduled(uint32_t id) const;
  std::optional<uint32_t> IntervalOf(uint32_t id) const;

  // Starts the timer thread (a running one is stopped first).
  void Start();
  // Asks the thread to end after the handler that is running, if any.
  void SignalStop();
  // SignalStop, then waits for the thread to end (no-op on the timer thread).
  void Stop();

  // Fires every timer due at `now`, as one pass of the thread does. Tests
  // drive the timers with it and an injected tick source instead of a thread.
  void RunDuePass(uint32_t now);
  // Milliseconds from `now` until the next timer is due (0: one is due now);
  // nullopt when there is no timer.
  std::optional<uint32_t> NextDueIn(uint32_t now) const;

 private:
  struct Entry {
    uint32_t id;
    uint32_t last;      // tick when the interval started
    uint32_t interval;  // ms
    bool fireNextPass;  // due on the next pass regardless of `last`
    uint64_t serial;    // tells a re-created entry from the one that fired
  };

  static bool IsDue(const Entry& e, uint32_t now);
  Entry* FindLocked(uint32_t id);
  const Entry* FindLocked(uint32_t id) const;
  void RunDuePassLocked(uint32_t now);
  void Loop(std::stop_token stop);

  const TickSource ticks_;
  mutable std::recursive_mutex mutex_;
  std::condition_variable_any wake_;
  std::vector<Entry> entries_;
  Handler handler_;
  uint64_t nextSerial_ = 1;
  bool changed_ = false;
  std::jthread thread_;  // last: stopped before the members it uses go away
};

}  // namespace qm
