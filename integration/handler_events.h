// The message events of the gateway offered to the configured handlers:
// received messages (Receive), sending outcomes (Send: "sent"/"failed") and
// delivery reports (Delivery: "delivered"/"undelivered"); status changes go
// to whoever follows them (the automation server's tracing clients).
//
// Threads: the command thread, like every MessageObservers call.
#pragma once

#include <functional>

#include "gateway/message_observers.h"
#include "integration/handler_list.h"

namespace qm {

class Logger;

class HandlerEvents final : public MessageObservers {
 public:
  HandlerEvents(HandlerList& handlers, Logger& log) : handlers_(handlers), log_(log) {}

  using StatusFollower = std::function<void(int32_t id, MessageStatus status)>;
  // Set before the command thread starts.
  void SetStatusFollower(StatusFollower follower) { follower_ = std::move(follower); }

  void StatusChanged(int32_t id, MessageStatus status) override {
    if (follower_) follower_(id, status);
  }
  void MessageFiled(const SMSMessage& message, bool sent) override;
  bool MessageReceived(const SMSMessage& message) override;
  void DeliveryReported(const SMSMessage& message, bool delivered) override;

 private:
  HandlerList& handlers_;
  Logger& log_;
  StatusFollower follower_;
};

}  // namespace qm
