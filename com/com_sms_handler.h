// COMSMSHandler: the entry that a registered SMSHandler automation object
// keeps in the driver's handler list. It matches like every handler (its
// name, filters and event are copied from the object when it registers);
// an event it takes goes to the object, which hands its client a new
// SMSMessage object in an IncomingSMS, SentSMS or DeliveredSMS signal.
//
// Handle runs on the thread that produced the event (the command thread, or
// the source thread for a replay) and never waits for the bus: it posts the
// event to the object's mailbox and sends the object a wake-up call, which
// the bus thread answers by taking the mailbox. Only the bus thread creates
// the message objects and emits the signals: sdbus-c++ holds its lock while
// it runs a handler, and handlers take the object registry's lock, so
// creating an object on another thread (registry's lock, then the bus's)
// could deadlock with them.
//
// Threads: Handle and Post from any thread; Take on the bus thread.
#pragma once

#include <sdbus-c++/IProxy.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "integration/sms_handler.h"
#include "platform/blocking_queue.h"
#include "sms/message.h"

namespace qm {

// The wake-up call an SMSHandler object answers by taking its mailbox. It is
// no part of the automation interface: the object accepts it from the driver
// itself only.
inline constexpr const char* kMailboxInterface = "org.quillmoor.GSM.Internal.HandlerMailbox";
inline constexpr const char* kMailboxTake = "Take";

// One event on its way to the bus thread.
struct HandlerDelivery {
  std::unique_ptr<SMSMessage> message;  // a copy: the caller's is gone once Handle returns
  HandlerEvent event = HandlerEvent::kReceive;
  HandlerStatus status = HandlerStatus::kNone;
};

class HandlerMailbox {
 public:
  // Events the bus thread has not taken yet; past this the oldest is dropped,
  // so a bus thread that is stuck cannot make the driver grow without end.
  static constexpr std::size_t kCapacity = 1000;

  enum class PostResult { kPosted, kDroppedOldest, kGone, kWakeFailed };

  // `waker` calls the object; it belongs to the object, so once the object
  // has gone nothing is posted any more.
  explicit HandlerMailbox(std::weak_ptr<sdbus::IProxy> waker) : waker_(std::move(waker)) {}
  HandlerMailbox(const HandlerMailbox&) = delete;
  HandlerMailbox& operator=(const HandlerMailbox&) = delete;

  // Queues the event and wakes the object unless a wake-up call is on its
  // way already. `why` says what went wrong with kWakeFailed.
  PostResult Post(HandlerDelivery delivery, std::string& why);
  // Everything waiting, oldest first (the bus thread, answering the call).
  std::vector<HandlerDelivery> Take();

 private:
  std::weak_ptr<sdbus::IProxy> waker_;
  BlockingQueue<HandlerDelivery> queue_;
  std::atomic<bool> wakeSent_{false};
};

class COMSMSHandler final : public SMSHandler {
 public:
  COMSMSHandler(const HandlerServices& services, std::shared_ptr<HandlerMailbox> mailbox)
      : SMSHandler(services), mailbox_(std::move(mailbox)) {}
  COMSMSHandler(const COMSMSHandler&) = default;

  std::unique_ptr<SMSHandler> Clone() const override { return std::make_unique<COMSMSHandler>(*this); }
  std::string TypeName() const override { return "COM"; }
  // 0 once the event is on its way to the object; -1 when the object has
  // gone or cannot be woken (the message was handed to nobody).
  int Handle(const SMSMessage& message, HandlerStatus status) override;
  // Subscribers live only while their client does: nothing is configured.
  void LoadConfig(const ConfigStore&, const std::string&) override {}
  void SaveConfig(ConfigStore&, const std::string&) const override {}

  // Whether this entry hands its events to `mailbox`'s object.
  bool DeliversTo(const HandlerMailbox& mailbox) const { return mailbox_.get() == &mailbox; }

 private:
  std::shared_ptr<HandlerMailbox> mailbox_;
};

}  // namespace qm
