// The message flows' news for the event streams: stands between the gateway
// and the observers it reports to (the handlers and automation clients),
// passes every call on unchanged, and publishes what the streams show.
//
// Threads: called on the command thread; publishing never blocks.
#pragma once

#include "gateway/message_observers.h"
#include "web/event_hub.h"

namespace qm {

class WebEventObservers final : public MessageObservers {
 public:
  WebEventObservers(EventHub& hub, MessageObservers* next) : hub_(hub), next_(next) {}

  void StatusChanged(int32_t id, MessageStatus status) override;
  void MessageFiled(const SMSMessage& message, bool sent) override;
  bool MessageReceived(const SMSMessage& message) override;
  void DeliveryReported(const SMSMessage& message, bool delivered) override;

 private:
  EventHub& hub_;
  MessageObservers* next_;  // may be null
};

}  // namespace qm
