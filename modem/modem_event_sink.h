// How the modem link reports upward.
//
// The sending worker hands over the reply events of raw AT commands and the
// messages it has finished with; the emulator hands over the messages it
// "receives". The driver implements this by posting records to its command
// thread, so every call takes ownership of what it is given and returns at
// once without waiting for anything.
//
// Threads: called on the sending worker and the emulator thread.
#pragma once

#include <memory>

#include "modem/async_event.h"
#include "sms/message.h"

namespace qm {

// What became of a message the sending worker took.
enum class SendOutcome : int {
  kSent = 1,
  kFailed = 0,     // may be tried again ("sender.retries")
  kRefused = -1,   // can never go as it is: failed at once, not retried
  kReturned = -2,  // never submitted (the worker was stopped): back to the outbox as it was
};

class ModemEventSink {
 public:
  // A reply event of a raw AT command: an information line or OK
  // (`success`), or an error, a time-out or a failure.
  virtual void ModemReply(AsyncEvent event, bool success) = 0;
  // A message the sending worker is done with.
  virtual void SendFinished(std::unique_ptr<SMSMessage> message, SendOutcome outcome) = 0;
  // A message received outside a memory listing.
  virtual void MessageReceived(std::unique_ptr<SMSMessage> message) = 0;

 protected:
  ~ModemEventSink() = default;
};

}  // namespace qm
