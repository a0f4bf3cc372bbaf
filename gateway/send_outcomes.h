// What happens to a message the sending worker is done with: a failed one is
// retried through the outbox until "sender.retries" is used up, then filed in
// "failed" (a refused one at once); a sent one is filed in "sent"; one never
// submitted goes back to the front of the outbox. A filed message's outbox
// row goes only after its new row is saved. The next dispatch follows at
// once or after "sender.delay" ms.
//
// Threads: command thread only.
#pragma once

#include <memory>

#include "gateway/gateway_context.h"
#include "gateway/message_observers.h"
#include "modem/modem_event_sink.h"
#include "sms/message.h"

namespace qm {

class Outbox;

class SendOutcomes {
 public:
  SendOutcomes(const GatewayContext& context, Outbox& outbox);
  SendOutcomes(const SendOutcomes&) = delete;
  SendOutcomes& operator=(const SendOutcomes&) = delete;

  // CMD_SEND_RESULT.
  void OnSendResult(std::unique_ptr<SMSMessage> message, SendOutcome outcome);
  // TIMER_SEND_DELAY: the pause is over.
  void OnSendDelayOver();

  // Set while the pause between two sends runs.
  bool SendDelayPending() const { return sendDelayPending_; }

  // Who is told of sent and failed messages (may be null).
  void SetObservers(MessageObservers* observers) { observers_ = observers; }

 private:
  // Writes the sent or failed row and saves; false when it could not be saved.
  bool FileMessage(const SMSMessage& message, bool sent);
  void PaceNextSend();

  GatewayContext context_;
  Outbox& outbox_;
  MessageObservers* observers_ = nullptr;
  bool sendDelayPending_ = false;
};

}  // namespace qm
