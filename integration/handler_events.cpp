#include "integration/handler_events.h"

#include "base/logger.h"

namespace qm {

void HandlerEvents::MessageFiled(const SMSMessage& message, bool sent) {
  handlers_.Dispatch(HandlerEvent::kSend, message, sent ? HandlerStatus::kSent : HandlerStatus::kFailed);
}

bool HandlerEvents::MessageReceived(const SMSMessage& message) {
  const HandlerList::Outcome outcome = handlers_.Dispatch(HandlerEvent::kReceive, message, HandlerStatus::kNone);
  for (const std::string& name : outcome.failed) {
    log_.Write(LogLevel::kError, "Error while handling incoming SMS: " + name);
  }
  return outcome.handled;
}

void HandlerEvents::DeliveryReported(const SMSMessage& message, bool delivered) {
  handlers_.Dispatch(HandlerEvent::kDelivery, message,
                     delivered ? HandlerStatus::kDelivered : HandlerStatus::kUndelivered);
}

}  // namespace qm
