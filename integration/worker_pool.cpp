#include "integration/worker_pool.h"

#include <utility>

namespace qm {

WorkerPool::WorkerPool(std::size_t workers, std::size_t queueLimit) : queueLimit_(queueLimit) {
  workers_.reserve(workers);
  for (std::size_t i = 0; i < workers; ++i) {
    workers_.emplace_back([this](std::stop_token stop) { Run(stop); });
  }
}

WorkerPool::~WorkerPool() { Stop(); }

bool WorkerPool::TrySubmit(Job job) {
  {
    std::lock_guard lock(mutex_);
    if (stopped_ || waiting_.size() >= queueLimit_) return false;
    waiting_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void WorkerPool::Stop() {
  std::lock_guard stopping(stopMutex_);
  std::deque<Job> dropped;
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    dropped.swap(waiting_);
  }
  // The dropped jobs' captures are released here, outside the lock.
  dropped.clear();
  for (auto& worker : workers_) worker.request_stop();
  for (auto& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
}

std::size_t WorkerPool::Waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

void WorkerPool::Run(std::stop_token stop) {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      // Wakes for a job or for the stop request of this worker.
      if (!wake_.wait(lock, stop, [&] { return !waiting_.empty(); })) return;
      job = std::move(waiting_.front());
      waiting_.pop_front();
    }
    job(stop);
  }
}

}  // namespace qm
