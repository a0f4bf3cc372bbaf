// A few threads for jobs that must not block their caller (network requests
// of handlers), with a bounded backlog: a job beyond it is refused rather
// than queued without end.
//
// Jobs run in the order they were submitted, up to `workers` at once. Each
// job gets its worker's stop token, which Stop requests. Every member may be
// called from any thread except that Stop (and the destructor) must not run
// inside a job of the same pool.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace qm {

class WorkerPool {
 public:
  using Job = std::function<void(std::stop_token)>;

  WorkerPool(std::size_t workers, std::size_t queueLimit);
  ~WorkerPool();  // Stop()
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // False when queueLimit jobs already wait or the pool has stopped (the job
  // is not run).
  bool TrySubmit(Job job);
  // Requests stop (running jobs see their token), drops the waiting jobs and
  // joins the workers. Later submissions are refused.
  void Stop();
  // Jobs submitted and not yet started.
  std::size_t Waiting() const;

 private:
  void Run(std::stop_token stop);

  const std::size_t queueLimit_;
  mutable std::mutex mutex_;
  std::condition_variable_any wake_;
  std::deque<Job> waiting_;
  bool stopped_ = false;
  std::mutex stopMutex_;  // one Stop joins at a time
  std::vector<std::jthread> workers_;
};

}  // namespace qm
