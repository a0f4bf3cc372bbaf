// Waiting for events and commands in tests, with a generous upper bound.
#pragma once

#include <chrono>
#include <optional>

#include "platform/blocking_queue.h"

namespace qm::test {

// The next item of the queue, or nothing when none arrives within `limit`
// (a wake or clear of the queue does not end the wait early).
template <typename T>
std::optional<T> NextWithin(BlockingQueue<T>& queue, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return queue.TryPop();
    if (auto item = queue.PopFor(deadline - now)) return item;
  }
}

}  // namespace qm::test
