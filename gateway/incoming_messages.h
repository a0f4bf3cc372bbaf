// What happens to a received message: it is counted, dropped when it is a
// duplicate, handed to the handlers, stored in the inbox and, once the inbox
// is saved, deleted from the modem by the configured rule; a status report
// marks its sent message; a message from the automation reader's listing is
// kept for the reader instead.
//
// Threads: command thread only.
#pragma once

#include <memory>

#include "gateway/gateway_context.h"
#include "sms/message.h"

namespace qm {

class DeliveryReports;
class MemoryListing;
class MessageObservers;
class ModemInfo;

class IncomingMessages {
 public:
  IncomingMessages(const GatewayContext& context, ModemInfo& modem, MemoryListing& listing, DeliveryReports& reports);
  IncomingMessages(const IncomingMessages&) = delete;
  IncomingMessages& operator=(const IncomingMessages&) = delete;

  // CMD_INCOMING.
  void OnIncoming(std::unique_ptr<SMSMessage> message);
  // CMD_LISTED_MESSAGE.
  void OnListedMessage(std::unique_ptr<SMSMessage> message);

  // Who runs the handlers for received messages (may be null).
  void SetObservers(MessageObservers* observers) { observers_ = observers; }

 private:
  // Deletes a processed message from the modem by "sender.delete_mode".
  void DeleteFromModem(const SMSMessage& message);
  // True for a message to drop; its memory locations are left to free.
  bool IsDuplicate(SMSMessage& message);

  GatewayContext context_;
  ModemInfo& modem_;
  MemoryListing& listing_;
  DeliveryReports& reports_;
  MessageObservers* observers_ = nullptr;
};

}  // namespace qm
