// The modem link's reports, posted as commands to the command thread:
// replies as CMD_MODEM_EVENT, finished messages as CMD_SEND_RESULT (the
// outcome as its result: 1 sent, 0 failed, -1 refused, -2 returned) and
// received ones as CMD_INCOMING.
//
// Threads: any; the queue must outlive the sink.
#pragma once

#include "gateway/driver_command.h"
#include "modem/modem_event_sink.h"

namespace qm {

class CommandQueueSink final : public ModemEventSink {
 public:
  explicit CommandQueueSink(CommandQueue& commands) : commands_(commands) {}

  void ModemReply(AsyncEvent event, bool success) override;
  void SendFinished(std::unique_ptr<SMSMessage> message, SendOutcome outcome) override;
  void MessageReceived(std::unique_ptr<SMSMessage> message) override;

 private:
  CommandQueue& commands_;
};

}  // namespace qm
