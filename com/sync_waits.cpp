#include "com/sync_waits.h"

#include <algorithm>
#include <iterator>

namespace qm {

SyncWaits::SyncWaits() : thread_([this](std::stop_token stop) { Run(stop); }) {}

SyncWaits::~SyncWaits() { Stop(); }

void SyncWaits::Add(std::unique_ptr<PendingCall> call) {
  const char* refusal = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (stopped_) {
      refusal = kTextCancelled;
    } else if (pending_.size() + polling_ >= kMaxPending) {
      refusal = "Too many calls are waiting";
    } else {
      pending_.push_back(std::move(call));
      return;
    }
  }
  call->Fail(Failure(refusal));
}

void SyncWaits::DropCallsOf(const std::string& client) {
  std::vector<std::unique_ptr<PendingCall>> dropped;  // destroyed after the lock is left
  std::lock_guard lock(mutex_);
  const auto from = std::stable_partition(pending_.begin(), pending_.end(),
                                          [&](const auto& call) { return call->Client() != client; });
  std::move(from, pending_.end(), std::back_inserter(dropped));
  pending_.erase(from, pending_.end());
  if (polling_ > 0) departed_.insert(client);
}

std::size_t SyncWaits::Pending() const {
  std::lock_guard lock(mutex_);
  return pending_.size() + polling_;
}

void SyncWaits::Run(std::stop_token stop) {
  auto next = std::chrono::steady_clock::now() + kInterval;
  std::unique_lock lock(mutex_);
  while (!stop.stop_requested()) {
    wake_.wait_until(lock, stop, next, [] { return false; });
    if (stop.stop_requested()) break;
    next = std::max(next + kInterval, std::chrono::steady_clock::now());
    if (pending_.empty()) continue;

    std::vector<std::unique_ptr<PendingCall>> batch = std::exchange(pending_, {});
    polling_ = batch.size();
    lock.unlock();
    std::vector<std::unique_ptr<PendingCall>> waiting;
    std::vector<std::unique_ptr<PendingCall>> answered;
    for (auto& call : batch) {
      if (call->Poll()) {
        answered.push_back(std::move(call));
      } else {
        waiting.push_back(std::move(call));
      }
    }
    answered.clear();  // outside the lock: a call's message goes back to the bus library
    lock.lock();
    // The calls that keep waiting stay ahead of the ones added meanwhile.
    std::vector<std::unique_ptr<PendingCall>> gone;
    for (auto& call : waiting) {
      if (departed_.contains(call->Client())) gone.push_back(std::move(call));
    }
    std::erase_if(waiting, [](const auto& call) { return call == nullptr; });
    std::move(pending_.begin(), pending_.end(), std::back_inserter(waiting));
    pending_ = std::move(waiting);
    polling_ = 0;
    departed_.clear();
    lock.unlock();
    gone.clear();
    lock.lock();
  }
}

void SyncWaits::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
  }
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
  std::vector<std::unique_ptr<PendingCall>> left;
  {
    std::lock_guard lock(mutex_);
    left = std::exchange(pending_, {});
  }
  for (auto& call : left) call->Fail(Failure(kTextCancelled));
}

}  // namespace qm
