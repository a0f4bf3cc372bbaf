#include "gateway/driver_timers.h"

#include <algorithm>
#include <chrono>

namespace qm {
namespace {

// The longest sleep of the thread: a safety net should the tick source and
// the wait clock ever disagree.
constexpr uint32_t kMaxSleepMs = 60'000;

}  // namespace

std::string_view TimerName(uint32_t id) {
  switch (id) {
    case TIMER_POLL: return "TIMER_POLL";
    case TIMER_POLL_DONE: return "TIMER_POLL_DONE";
    case TIMER_RESET: return "TIMER_RESET";
    case TIMER_STATUS_FILE: return "TIMER_STATUS_FILE";
    case TIMER_SEND_DELAY: return "TIMER_SEND_DELAY";
    case TIMER_HOUSEKEEPING: return "TIMER_HOUSEKEEPING";
    case TIMER_RECONNECT: return "TIMER_RECONNECT";
    case TIMER_RESET_RECONNECT: return "TIMER_RESET_RECONNECT";
    default: return "";
  }
}

uint32_t TimerIntervalMs(int64_t count, uint32_t msPerUnit) {
  if (count <= 0 || msPerUnit == 0) return 0;
  if (count > static_cast<int64_t>(kMaxTimerInterval / msPerUnit)) return kMaxTimerInterval;
  return static_cast<uint32_t>(count) * msPerUnit;
}

DriverTimers::DriverTimers(TickSource ticks) : ticks_(std::move(ticks)) {}

DriverTimers::~DriverTimers() { Stop(); }

void DriverTimers::SetHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

bool DriverTimers::IsDue(const Entry& e, uint32_t now) {
  return e.fireNextPass || static_cast<uint32_t>(now - e.last) > e.interval;
}

DriverTimers::Entry* DriverTimers::FindLocked(uint32_t id) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
  return it == entries_.end() ? nullptr : &*it;
}

const DriverTimers::Entry* DriverTimers::FindLocked(uint32_t id) const {
  auto it = std::find_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
  return it == entries_.end() ? nullptr : &*it;
}

void DriverTimers::Schedule(uint32_t id, uint32_t intervalMs, bool startNow) {
  intervalMs = std::min(intervalMs, kMaxTimerInterval);
  {
    std::lock_guard lock(mutex_);
    if (Entry* e = FindLocked(id)) {
      if (e->interval == intervalMs) return;
      e->last = ticks_();
      e->interval = intervalMs;
      e->fireNextPass = false;
    } else {
      entries_.push_back(Entry{id, ticks_(), intervalMs, !startNow, nextSerial_++});
    }
    changed_ = true;
  }
  wake_.notify_all();
}

void DriverTimers::Cancel(uint32_t id) {
  {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [id](const Entry& e) { return e.id == id; });
    changed_ = true;
  }
  wake_.notify_all();
}

bool DriverTimers::IsScheduled(uint32_t id) const {
  std::lock_guard lock(mutex_);
  return FindLocked(id) != nullptr;
}

std::optional<uint32_t> DriverTimers::IntervalOf(uint32_t id) const {
  std::lock_guard lock(mutex_);
  const Entry* e = FindLocked(id);
  if (e == nullptr) return std::nullopt;
  return e->interval;
}

void DriverTimers::RunDuePass(uint32_t now) {
  std::lock_guard lock(mutex_);
  RunDuePassLocked(now);
}

void DriverTimers::RunDuePassLocked(uint32_t now) {
  // Handlers may cancel or schedule timers, so the due list is taken first
  // and each entry looked up again; timers added meanwhile wait for the next pass.
  std::vector<std::pair<uint32_t, uint64_t>> due;
  for (const Entry& e : entries_) {
    if (IsDue(e, now)) due.emplace_back(e.id, e.serial);
  }
  for (const auto& [dueId, serial] : due) {
    const uint32_t id = dueId;  // clang 14 cannot capture a structured binding
    const Entry* before = FindLocked(id);
    if (before == nullptr || before->serial != serial || !IsDue(*before, now)) continue;
    const HandlerResult result = handler_ ? handler_(id) : HandlerResult::kKeep;
    Entry* after = FindLocked(id);
    if (after == nullptr || after->serial != serial) continue;  // cancelled or re-created by the handler
    if (result == HandlerResult::kRemove) {
      std::erase_if(entries_, [id](const Entry& e) { return e.id == id; });
    } else {
      after->last = ticks_();
      after->fireNextPass = false;
    }
  }
}

std::optional<uint32_t> DriverTimers::NextDueIn(uint32_t now) const {
  std::lock_guard lock(mutex_);
  std::optional<uint32_t> next;
  for (const Entry& e : entries_) {
    uint32_t wait = 0;
    if (!IsDue(e, now)) wait = e.interval - static_cast<uint32_t>(now - e.last) + 1;
    if (!next || wait < *next) next = wait;
  }
  return next;
}

void DriverTimers::Start() {
  Stop();
  thread_ = std::jthread([this](std::stop_token stop) { Loop(stop); });
}

void DriverTimers::SignalStop() { thread_.request_stop(); }

void DriverTimers::Stop() {
  SignalStop();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void DriverTimers::Loop(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (!stop.stop_requested()) {
    RunDuePassLocked(ticks_());
    if (stop.stop_requested()) break;
    const uint32_t sleep = std::min(NextDueIn(ticks_()).value_or(kMaxSleepMs), kMaxSleepMs);
    if (sleep == 0) continue;  // a handler set a timer for the next pass
    changed_ = false;
    // The stop request wakes the wait.
    wake_.wait_for(lock, stop, std::chrono::milliseconds(sleep), [this] { return changed_; });
  }
}

}  // namespace qm
