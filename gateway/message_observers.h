// Who hears what becomes of messages: the automation clients that trace a
// message, and the handlers run for received, sent, failed and reported
// messages. The automation and handler parts implement it; until they are
// there, nobody listens.
//
// Threads: called on the command thread; implementations must not block it.
#pragma once

#include <cstdint>

#include "sms/message.h"

namespace qm {

// The status codes automation clients see.
enum class MessageStatus : int {
  kUnknown = 0,
  kPending = 1,
  kSent = 2,
  kFailed = 3,
  kDelivered = 4,
  kNotDelivered = 5,
};

class MessageObservers {
 public:
  // The status of message `id` changed.
  virtual void StatusChanged(int32_t id, MessageStatus status) = 0;
  // A message was filed as sent or finally failed.
  virtual void MessageFiled(const SMSMessage& message, bool sent) = 0;
  // A message was received (before it is stored); true when a handler took
  // care of it.
  virtual bool MessageReceived(const SMSMessage& /*message*/) { return false; }
  // A delivery report matched a sent message: `message` names its recipient
  // and carries its reference, id and custom text.
  virtual void DeliveryReported(const SMSMessage& /*message*/, bool /*delivered*/) {}

 protected:
  ~MessageObservers() = default;
};

}  // namespace qm
