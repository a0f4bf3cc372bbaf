// The message events of the gateway offered to the configured handlers:
// received messages (Receive), sending outcomes (Send: "sent"/"failed") and
// delivery reports (Delivery: "delivered"/"undelivered").
//
// Threads: the command thread, like every MessageObservers call.
#pragma once

#include "gateway/message_observers.h"
#include "integration/handler_list.h"

namespace qm {

class Logger;

class HandlerEvents final : public MessageObservers {
 public:
  HandlerEvents(HandlerList& handlers, Logger& log) : handlers_(handlers), log_(log) {}

  void StatusChanged(int32_t /*id*/, MessageStatus /*status*/) override {}
  void MessageFiled(const SMSMessage& message, bool sent) override;
  bool MessageReceived(const SMSMessage& message) override;
  void DeliveryReported(const SMSMessage& message, bool delivered) override;

 private:
  HandlerList& handlers_;
  Logger& log_;
};

}  // namespace qm
