// The sending worker: one thread that takes the modem command queue one item
// at a time and executes it on the transport.
//
// Raw AT commands (kind 0) are executed here: the reply events go to the
// event sink (success for OK and information lines, failure for errors and
// time-outs). SMS, WAP push and USSD items (kinds 1-3) go to the message
// handler the sending pipeline installs; without one they are reported to the
// sink as not sent, so no queued message is ever lost.
//
// The transport and the sink must outlive the sender.
//
// Threads: Start/Stop by the owner; Push, TakeAll, AbortCommand,
// SetMessageHandler and LastErrorText from any thread; ExecuteATCommand and
// the handler run on the worker (tests may call ExecuteATCommand directly
// while the worker is not running).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "modem/at_command_message.h"
#include "modem/listener_queue.h"
#include "modem/modem_event_sink.h"
#include "platform/blocking_queue.h"
#include "sms/message.h"

namespace qm {

class AsyncSerialComm;
class Logger;

using ModemCommandQueue = BlockingQueue<std::unique_ptr<GenericMessage>>;

class ModemSender {
 public:
  // Sends one message; runs on the worker and must end soon after `stop`.
  using MessageHandler = std::function<void(std::unique_ptr<SMSMessage>, std::stop_token stop)>;

  ModemSender(AsyncSerialComm& transport, ModemEventSink& events, Logger& log);
  ~ModemSender();
  ModemSender(const ModemSender&) = delete;
  ModemSender& operator=(const ModemSender&) = delete;

  void Start();
  // Asks the worker to end: it takes no new item, and a command or message
  // it is waiting on ends soon. Returns at once.
  void SignalStop() { worker_.request_stop(); }
  // SignalStop, then waits for the worker; queued items stay in the queue.
  void Stop();

  void Push(std::unique_ptr<GenericMessage> item) { queue_.Push(std::move(item)); }
  // Takes every queued item out, in order (the configuring phase).
  std::vector<std::unique_ptr<GenericMessage>> TakeAll() { return queue_.TakeAll(); }
  ModemCommandQueue& Queue() { return queue_; }

  void SetMessageHandler(MessageHandler handler);

  // Registers the reply queue in slots 0, 1, 2, 3 and 5 and clears it.
  void RegisterReplyQueue();
  ListenerQueue& ReplyQueue() { return replies_; }
  AsyncSerialComm& Transport() { return transport_; }
  ModemEventSink& Events() { return events_; }

  // Writes one AT command (after its delay) and forwards its replies until
  // the command ends (or `stop` is requested).
  void ExecuteATCommand(const ATCommandMessage& message, std::stop_token stop = {});

  // For the code that talks to the modem on the worker (this class and the
  // sending pipeline). BeginCommand brings the channel back in step when a
  // reply went astray before (a time-out, an aborted prompt), clears the
  // reply queue and returns the serial number after which replies belong to
  // what is written next; NextReply hands out those replies only, and nullopt
  // on a stop.
  uint64_t BeginCommand(std::stop_token stop);
  std::optional<AsyncEvent> NextReply(std::stop_token stop, uint64_t writtenAfter);
  // The next command waits for the modem to fall silent first.
  void MarkOutOfStep() { outOfStep_ = true; }
  // Sleeps, ending early on a stop; false when stopped.
  static bool SleepFor(std::stop_token stop, std::chrono::milliseconds duration);
  // Ends the command in progress (a kind-14 event) and marks the link
  // disconnected.
  void AbortCommand();

  // The text of the last failure of a command.
  std::string LastErrorText() const;
  void SetLastErrorText(std::string text);

  // Hands a reply event of a command to the sink.
  void PostModemEvent(const AsyncEvent& event, bool success);

 private:
  void Run(std::stop_token stop);
  void Execute(std::unique_ptr<GenericMessage> item, std::stop_token stop);
  void WaitForQuiet(std::stop_token stop);

  AsyncSerialComm& transport_;
  ModemEventSink& events_;
  Logger& log_;
  ModemCommandQueue queue_;
  ListenerQueue replies_;
  bool outOfStep_ = false;  // worker only

  mutable std::mutex mutex_;
  MessageHandler handler_;
  std::string lastError_;

  std::jthread worker_;  // last: stopped before the members it uses go away
};

}  // namespace qm
