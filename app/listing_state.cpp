#include "app/listing_state.h"

#include <algorithm>
#include <utility>

namespace qm {

int ListingState::Get() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void ListingState::Set(int state) {
  std::lock_guard lock(mutex_);
  state_ = state;
}

bool ListingState::TryStart(int state) {
  std::lock_guard lock(mutex_);
  if (state_ != 0) return false;
  state_ = state;
  return true;
}

void ListingState::Reset() {
  std::lock_guard lock(mutex_);
  state_ = 0;
  polled_.clear();
  listed_.clear();
}

bool ListingState::CollectPolled(const SMSMessage& message) {
  std::lock_guard lock(mutex_);
  const bool seen = std::any_of(polled_.begin(), polled_.end(),
                                [&](const auto& m) { return m->IsDuplicateOf(message); });
  if (!seen) polled_.push_back(message.Clone());
  return seen;
}

void ListingState::FinishPolling() {
  std::lock_guard lock(mutex_);
  state_ = 0;
  polled_.clear();
}

void ListingState::AddListed(std::unique_ptr<SMSMessage> message) {
  std::lock_guard lock(mutex_);
  listed_.push_back(std::move(message));
}

std::vector<std::unique_ptr<SMSMessage>> ListingState::TakeListed() {
  std::lock_guard lock(mutex_);
  return std::exchange(listed_, {});
}

std::size_t ListingState::ListedCount() const {
  std::lock_guard lock(mutex_);
  return listed_.size();
}

}  // namespace qm
