// Commands for the driver's command thread, and the queue that carries them.
//
// Posting transfers ownership of the command and its payload to the queue;
// the command thread frees both after executing the command. A command may
// carry a completion that the command thread fulfils once it is done, so
// that a caller on another thread can wait for the outcome.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "gateway/request_completion.h"
#include "modem/async_event.h"
#include "platform/blocking_queue.h"
#include "sms/message.h"

namespace qm {

enum DriverCommandCode : uint32_t {
  CMD_INCOMING = 0x402,        // a received message (SMS, push or status report)
  CMD_MODEM_EVENT = 0x403,     // a modem reply event; result 1 = success/information, 0 = failure
  CMD_SEND_RESULT = 0x404,     // the message the worker is done with; result = SendOutcome
  CMD_LISTED_MESSAGE = 0x405,  // a message read by a memory listing
  CMD_READ_DONE = 0x406,       // end of a listing; result = the step it ended in; optional error text
  CMD_SOURCE_MESSAGE = 0x408,  // a message from a source, to be sent
  CMD_CONNECT = 0x409,         // connect the modem
  // The driver's own codes, past the ones other components know: whatever
  // touches the modem runs on the command thread, also when a frame command
  // or a timer asks for it.
  CMD_DISCONNECT = 0x40A,      // the frame's "Disconnect"
  CMD_TIMER = 0x40B,           // a timer fired; result = the TimerId
  CMD_STORED_NOTICE = 0x40C,   // "+CMTI:"/"+CDSI:": text = the memory, result = the index
  CMD_LISTING_DRAINED = 0x40D, // every line of a finished listing has been read
  CMD_READ_MEMORY = 0x40E,     // the automation reader asks for a listing; result = its ticket
  CMD_DELETE_STORED = 0x40F,   // delete a listed message's locations (payload), or everything (none)
};

// The `result` of a CMD_MODEM_EVENT that is a line the modem sent on its own
// (a USSD reply), not part of a command's reply.
inline constexpr int32_t kUnsolicitedLine = 2;

struct DriverCommand {
  using Payload = std::variant<std::monostate, std::unique_ptr<SMSMessage>, std::unique_ptr<AsyncEvent>, std::string>;

  DriverCommand() = default;
  explicit DriverCommand(uint32_t code, int32_t result = 0, Payload param = {}, RequestCompletion done = {})
      : code(code), result(result), param(std::move(param)), done(std::move(done)) {}

  uint32_t code = 0;
  int32_t result = 0;
  Payload param;
  RequestCompletion done;  // may be empty

  SMSMessage* Message() const {
    auto* p = std::get_if<std::unique_ptr<SMSMessage>>(&param);
    return p ? p->get() : nullptr;
  }
  std::unique_ptr<SMSMessage> TakeMessage() {
    auto* p = std::get_if<std::unique_ptr<SMSMessage>>(&param);
    return p ? std::move(*p) : nullptr;
  }
  AsyncEvent* Event() const {
    auto* p = std::get_if<std::unique_ptr<AsyncEvent>>(&param);
    return p ? p->get() : nullptr;
  }
  const std::string* Text() const { return std::get_if<std::string>(&param); }
};

using CommandQueue = BlockingQueue<DriverCommand>;

}  // namespace qm
