// The command thread: executes the driver's commands one at a time.
//
// Connect, modem events (the initialisation sequence, memory listings, USSD
// replies), incoming messages, sending outcomes, listed messages, the end of
// a listing and messages from sources all arrive as DriverCommand records on
// one queue; each is executed to its end before the next is taken, so
// commands never run concurrently with each other.
//
// Threads: Start, Stop and the destructor on the owning (main) thread;
// Execute on the command thread (tests call it directly while the thread is
// not running). Anything may post to the queue.
#pragma once

#include <memory>
#include <thread>

#include "gateway/driver_command.h"

namespace qm {

class CMainFrame;
class SMSMessage;

class CServiceThread {
 public:
  explicit CServiceThread(CMainFrame& frame);
  virtual ~CServiceThread();
  CServiceThread(const CServiceThread&) = delete;
  CServiceThread& operator=(const CServiceThread&) = delete;

  void Start();
  // Asks the loop to end after the command that is running.
  void SignalStop();
  // SignalStop, then waits for the thread.
  void Stop();

  void Execute(DriverCommand command);
  // At exit, once the thread has stopped: executes the queued commands that
  // carry messages (incoming, listed, sending outcomes, source messages), so
  // none is lost; the others are dropped.
  void DrainAtExit();

 private:
  void Loop(std::stop_token stop);

  void OnConnect();
  void OnModemEvent(const DriverCommand& command);
  void OnInitialised();
  void OnListingEvent(const AsyncEvent& event, bool success);
  void OnIncoming(std::unique_ptr<SMSMessage> message);
  void OnSendResult(std::unique_ptr<SMSMessage> message, bool sent);
  void OnListedMessage(std::unique_ptr<SMSMessage> message);
  void OnUssdReply(const AsyncEvent& event);

  // Deletes a processed message from the modem by "sender.delete_mode".
  void DeleteFromModem(const SMSMessage& message);
  bool IsDuplicate(const SMSMessage& message);
  void FileMessage(const SMSMessage& message, bool sent);
  void PaceNextSend();

  CMainFrame& frame_;
  bool connecting_ = false;  // the initialisation sequence runs (command thread only)
  std::jthread thread_;
};

}  // namespace qm
