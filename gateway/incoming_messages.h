// What happens to a received message: it is counted, dropped when it is a
// duplicate, stored in the inbox and deleted from the modem by the
// configured rule; a message from the automation reader's listing is kept
// for the reader instead.
//
// Threads: command thread only.
#pragma once

#include <memory>

#include "gateway/gateway_context.h"
#include "sms/message.h"

namespace qm {

class MemoryListing;

class IncomingMessages {
 public:
  IncomingMessages(const GatewayContext& context, MemoryListing& listing);
  IncomingMessages(const IncomingMessages&) = delete;
  IncomingMessages& operator=(const IncomingMessages&) = delete;

  // CMD_INCOMING.
  void OnIncoming(std::unique_ptr<SMSMessage> message);
  // CMD_LISTED_MESSAGE.
  void OnListedMessage(std::unique_ptr<SMSMessage> message);

 private:
  // Deletes a processed message from the modem by "sender.delete_mode".
  void DeleteFromModem(const SMSMessage& message);
  bool IsDuplicate(const SMSMessage& message);

  GatewayContext context_;
  MemoryListing& listing_;
};

}  // namespace qm
