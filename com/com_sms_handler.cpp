#include "com/com_sms_handler.h"

#include <exception>
#include <utility>

namespace qm {

HandlerMailbox::PostResult HandlerMailbox::Post(HandlerDelivery delivery, std::string& why) {
  const std::shared_ptr<sdbus::IProxy> waker = waker_.lock();
  if (!waker) return PostResult::kGone;
  const bool dropped = queue_.PushBounded(std::move(delivery), kCapacity);
  const PostResult posted = dropped ? PostResult::kDroppedOldest : PostResult::kPosted;
  // One call at a time is enough: answering it takes everything that waits.
  if (wakeSent_.exchange(true)) return posted;
  try {
    // No reply is asked for, so sending only queues the call on the socket.
    sdbus::MethodCall call = waker->createMethodCall(kMailboxInterface, kMailboxTake);
    call.dontExpectReply();
    waker->callMethod(call);
  } catch (const std::exception& e) {
    wakeSent_ = false;  // the next event tries again and takes this one along
    why = e.what();
    return PostResult::kWakeFailed;
  }
  return posted;
}

std::vector<HandlerDelivery> HandlerMailbox::Take() {
  // Cleared before taking: an event posted from here on sends a call of its
  // own, so none is left behind without one.
  wakeSent_ = false;
  return queue_.TakeAll();
}

int COMSMSHandler::Handle(const SMSMessage& message, HandlerStatus status) {
  std::string why;
  switch (mailbox_->Post(HandlerDelivery{message.Clone(), event, status}, why)) {
    case HandlerMailbox::PostResult::kPosted:
      return 0;
    case HandlerMailbox::PostResult::kDroppedOldest:
      Failed(name + ": the bus is not taking events; the oldest waiting one was dropped");
      return 0;
    case HandlerMailbox::PostResult::kGone:
      // Its client released it while this event was being offered: counting
      // the message as handled could drop it ("inbox.discard_handled").
      return -1;
    case HandlerMailbox::PostResult::kWakeFailed:
      Failed(name + ": " + why);
      return -1;
  }
  return -1;
}

}  // namespace qm
