#include "gateway/ussd_waiters.h"

#include <algorithm>
#include <ctime>
#include <utility>

namespace qm {
namespace {

constexpr int64_t kUnclaimedReplySeconds = 300;

}  // namespace

USSDSyncObserverQueue::USSDSyncObserverQueue(Clock clock) : clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return static_cast<int64_t>(time(nullptr)); };
}

void USSDSyncObserverQueue::Add(uint32_t requestNumber, int timeoutSeconds) {
  const int64_t now = clock_();
  std::lock_guard lock(mutex_);
  Waiter waiter;
  waiter.requestNumber = requestNumber;
  waiter.start = now;
  waiter.timeoutSeconds = timeoutSeconds;
  waiters_.push_back(std::move(waiter));
}

USSDSyncObserverQueue::PollResult USSDSyncObserverQueue::Poll(uint32_t requestNumber) {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(waiters_.begin(), waiters_.end(),
                               [&](const Waiter& w) { return w.requestNumber == requestNumber; });
  if (it == waiters_.end()) return {true, UssdWaitState::kUnknown, {}};
  if (it->state == UssdWaitState::kWaiting) return {false, UssdWaitState::kWaiting, {}};
  PollResult result{true, it->state, std::move(it->reply)};
  waiters_.erase(it);
  return result;
}

void USSDSyncObserverQueue::Deliver(const std::string& reply, bool final) {
  std::lock_guard lock(mutex_);
  const auto waiting = [](const Waiter& w) { return w.state == UssdWaitState::kWaiting; };
  auto target = std::find_if_not(waiters_.begin(), waiters_.end(), waiting);
  if (target != waiters_.begin()) {
    --target;  // the last of the leading run
  } else {
    target = std::find_if(waiters_.begin(), waiters_.end(), waiting);
    if (target == waiters_.end()) return;
  }
  target->reply = reply;
  target->provisional = !final;
  if (final) target->state = UssdWaitState::kReplied;
}

void USSDSyncObserverQueue::RemoveExpired() {
  const int64_t now = clock_();
  std::lock_guard lock(mutex_);
  for (auto it = waiters_.begin(); it != waiters_.end();) {
    const int64_t end = it->start + it->timeoutSeconds;
    if (it->state != UssdWaitState::kWaiting) {
      // A reply waits to be polled for a while; one its client never comes
      // for goes, so abandoned requests cannot pile up.
      if (now > end + kUnclaimedReplySeconds) {
        it = waiters_.erase(it);
      } else {
        ++it;
      }
    } else if (now <= end) {
      ++it;
    } else if (it->provisional) {
      it->state = UssdWaitState::kReplied;
      it->provisional = false;
      ++it;
    } else {
      it = waiters_.erase(it);
    }
  }
}

}  // namespace qm
