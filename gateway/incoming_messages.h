// What happens to a received message: it is counted, dropped when it is a
// duplicate, handed to the handlers, stored in the inbox and, once the inbox
// is saved, deleted from the modem by the configured rule; a status report
// marks its sent message; a message from the automation reader's listing is
// kept for the reader instead.
//
// Threads: command thread only.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gateway/gateway_context.h"
#include "modem/async_event.h"
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

  // The reply to a command the sending worker ran (CMD_MODEM_EVENT).
  void OnCommandReply(const AsyncEvent& event);
  // After a reconnection: the memory locations of stored messages whose
  // deletion the modem never answered, to be read again. The same message
  // found there is deleted as a duplicate; another one is new and taken in.
  std::vector<std::pair<std::string, int>> RecheckUndeleted();

  // Who runs the handlers for received messages (may be null).
  void SetObservers(MessageObservers* observers) { observers_ = observers; }

 private:
  // Deletes a processed message from the modem by "sender.delete_mode".
  void DeleteFromModem(const SMSMessage& message);
  // True for a message to drop; its memory locations are left to free.
  bool IsDuplicate(SMSMessage& message);

  // A stored message whose deletion the modem has not confirmed (dropped
  // with the queue when the link went, or cut off): found again by the
  // listing after a reconnection, it is deleted rather than stored twice.
  struct Undeleted {
    std::string memory;
    int index;
    std::unique_ptr<SMSMessage> message;
    bool recheck = false;  // its deletion is no longer queued: read it again
  };
  // The memory a message was read from (the current one when it says none).
  std::string MemoryOf(const SMSMessage& message) const;
  void RememberUndeleted(const SMSMessage& message, int index);
  bool IsUndeletedCopy(const SMSMessage& message) const;

  GatewayContext context_;
  ModemInfo& modem_;
  MemoryListing& listing_;
  DeliveryReports& reports_;
  MessageObservers* observers_ = nullptr;
  std::vector<Undeleted> undeleted_;
};

}  // namespace qm
