// Requests that a caller on another thread can wait for.
//
// A DriverCommand may carry a RequestCompletion; the command thread completes
// it once it has carried the command out (a connect has opened the port or
// failed, a disconnect has closed it). A completion that is destroyed without
// having been completed (the command was dropped at exit) reports kDropped, so
// nobody waits for ever.
//
// Two ways to wait: a callback (run on the command thread; it must return at
// once, as a D-Bus reply does) or an AwaitedRequest with a time-out.
//
// Threads: a completion is moved along with its command; Complete runs on the
// command thread. An AwaitedRequest belongs to the thread that waits on it.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <utility>

namespace qm {

enum class RequestStatus {
  kDone,     // carried out
  kFailed,   // carried out, and it failed: see code and text
  kDropped,  // never carried out
};

struct RequestOutcome {
  RequestStatus status = RequestStatus::kDropped;
  int code = 0;      // the system error code of a failure, 0 otherwise
  std::string text;  // the failure's text
};

class RequestCompletion {
 public:
  using Callback = std::function<void(const RequestOutcome&)>;

  RequestCompletion() = default;
  explicit RequestCompletion(Callback callback) : callback_(std::move(callback)) {}
  RequestCompletion(RequestCompletion&& other) noexcept : callback_(std::exchange(other.callback_, nullptr)) {}
  RequestCompletion& operator=(RequestCompletion&& other) noexcept;
  RequestCompletion(const RequestCompletion&) = delete;
  RequestCompletion& operator=(const RequestCompletion&) = delete;
  ~RequestCompletion();

  // Reports the outcome; only the first call counts.
  void Complete(RequestOutcome outcome);
  void Succeed() { Complete(RequestOutcome{RequestStatus::kDone, 0, {}}); }
  void Fail(int code, std::string text) { Complete(RequestOutcome{RequestStatus::kFailed, code, std::move(text)}); }

  explicit operator bool() const { return static_cast<bool>(callback_); }

 private:
  Callback callback_;
};

// The waiting side of a request made with MakeAwaitedRequest.
class AwaitedRequest {
 public:
  explicit AwaitedRequest(std::future<RequestOutcome> future) : future_(std::move(future)) {}
  // The outcome, or nullopt when it has not come within `timeout`.
  std::optional<RequestOutcome> WaitFor(std::chrono::milliseconds timeout);

 private:
  std::future<RequestOutcome> future_;
};

// A completion to post with a command, and the handle to wait on.
std::pair<RequestCompletion, AwaitedRequest> MakeAwaitedRequest();

}  // namespace qm
