#include "gateway/request_completion.h"

#include <memory>

namespace qm {

RequestCompletion& RequestCompletion::operator=(RequestCompletion&& other) noexcept {
  if (this != &other) {
    Complete(RequestOutcome{});
    callback_ = std::exchange(other.callback_, nullptr);
  }
  return *this;
}

RequestCompletion::~RequestCompletion() { Complete(RequestOutcome{}); }

void RequestCompletion::Complete(RequestOutcome outcome) {
  if (Callback callback = std::exchange(callback_, nullptr)) callback(outcome);
}

std::optional<RequestOutcome> AwaitedRequest::WaitFor(std::chrono::milliseconds timeout) {
  if (!future_.valid() || future_.wait_for(timeout) != std::future_status::ready) return std::nullopt;
  return future_.get();
}

std::pair<RequestCompletion, AwaitedRequest> MakeAwaitedRequest() {
  auto promise = std::make_shared<std::promise<RequestOutcome>>();
  AwaitedRequest waiter(promise->get_future());
  return {RequestCompletion([promise](const RequestOutcome& outcome) { promise->set_value(outcome); }),
          std::move(waiter)};
}

}  // namespace qm
