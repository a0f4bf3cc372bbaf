// The one work queue of the program: a FIFO handed between threads.
//
// Push never blocks. Pop waits until an item arrives or the queue is woken;
// a wake (Wake, Clear) makes exactly one pending or future Pop on an empty
// queue return nothing, like a manual-reset event that the consumer resets.
// Every operation may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace qm {

template <typename T>
class BlockingQueue {
 public:
  void Push(T item) {
    {
      std::lock_guard lock(mutex_);
      items_.push_back(std::move(item));
    }
    cv_.notify_one();
  }

  // As Push, but a queue holding `capacity` items drops its oldest first, so
  // that a producer nobody consumes cannot grow it without bound. True when
  // an item was dropped.
  bool PushBounded(T item, std::size_t capacity) {
    bool dropped = false;
    {
      std::lock_guard lock(mutex_);
      while (capacity > 0 && items_.size() >= capacity) {
        items_.pop_front();
        dropped = true;
      }
      items_.push_back(std::move(item));
    }
    cv_.notify_one();
    return dropped;
  }

  // Puts an item at the front (it is taken next).
  void PushFront(T item) {
    {
      std::lock_guard lock(mutex_);
      items_.push_front(std::move(item));
    }
    cv_.notify_one();
  }

  // Waits without limit for an item or a wake.
  std::optional<T> Pop() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return !items_.empty() || woken_; });
    return TakeLocked();
  }

  // Waits at most `timeout` for an item or a wake.
  template <typename Rep, typename Period>
  std::optional<T> PopFor(std::chrono::duration<Rep, Period> timeout) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, timeout, [&] { return !items_.empty() || woken_; });
    return TakeLocked();
  }

  std::optional<T> TryPop() {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    return item;
  }

  // Wakes a waiting (or the next) Pop so that it returns nothing.
  void Wake() {
    {
      std::lock_guard lock(mutex_);
      woken_ = true;
    }
    cv_.notify_all();
  }

  // Drops every queued item and wakes the waiter.
  void Clear() {
    std::deque<T> dropped;
    {
      std::lock_guard lock(mutex_);
      dropped.swap(items_);
      woken_ = true;
    }
    cv_.notify_all();
  }

  // Removes and returns every queued item, in order, without waking anyone.
  std::vector<T> TakeAll() {
    std::lock_guard lock(mutex_);
    std::vector<T> out;
    out.reserve(items_.size());
    for (auto& item : items_) out.push_back(std::move(item));
    items_.clear();
    return out;
  }

  // Visits every queued item under the lock (the visitor must not re-enter).
  template <typename F>
  void ForEach(F&& visit) const {
    std::lock_guard lock(mutex_);
    for (const auto& item : items_) visit(item);
  }

  std::size_t Size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
  }
  bool Empty() const { return Size() == 0; }

 private:
  std::optional<T> TakeLocked() {
    if (items_.empty()) {
      woken_ = false;
      return std::nullopt;
    }
    T item = std::move(items_.front());
    items_.pop_front();
    if (items_.empty()) woken_ = false;
    return item;
  }

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<T> items_;
  bool woken_ = false;
};

}  // namespace qm
