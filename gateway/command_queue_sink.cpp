#include "gateway/command_queue_sink.h"

namespace qm {

void CommandQueueSink::ModemReply(AsyncEvent event, bool success) {
  commands_.Push(DriverCommand(CMD_MODEM_EVENT, success ? 1 : 0, std::make_unique<AsyncEvent>(std::move(event))));
}

void CommandQueueSink::SendFinished(std::unique_ptr<SMSMessage> message, SendOutcome outcome) {
  commands_.Push(DriverCommand(CMD_SEND_RESULT, static_cast<int32_t>(outcome), std::move(message)));
}

void CommandQueueSink::MessageReceived(std::unique_ptr<SMSMessage> message) {
  commands_.Push(DriverCommand(CMD_INCOMING, 0, std::move(message)));
}

}  // namespace qm
