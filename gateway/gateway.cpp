#include "gateway/gateway.h"

#include "gateway/driver_timers.h"
#include "gateway/user_notices.h"
#include "modem/async_serial_comm.h"
#include "modem/modem_sender.h"

namespace qm {

Gateway::Gateway(const GatewayContext& context)
    : context_(context),
      events_(context.commands),
      modem_(context.config, context.sender.Queue(),
             [notices = &context.notices](const std::string& title, const std::string& text) {
               notices->ShowBalloon(title, text);
             }),
      outbox_(context),
      listing_(context, modem_),
      session_(context, modem_, listing_, outbox_, capabilities_, ussdWaiters_),
      incoming_(context, listing_),
      outcomes_(context, outbox_),
      pipeline_(context.config, context.log, context.sender, events_, capabilities_) {
  context_.sender.SetMessageHandler(
      [this](std::unique_ptr<SMSMessage> message, std::stop_token stop) { pipeline_.Send(std::move(message), stop); });
}

Gateway::~Gateway() { context_.sender.SetMessageHandler({}); }

void Gateway::Execute(DriverCommand command) {
  switch (command.code) {
    case CMD_INCOMING:
      if (auto message = command.TakeMessage()) incoming_.OnIncoming(std::move(message));
      break;
    case CMD_MODEM_EVENT:
      if (const AsyncEvent* event = command.Event()) session_.OnModemEvent(*event, command.result != 0);
      break;
    case CMD_SEND_RESULT:
      if (auto message = command.TakeMessage()) {
        outcomes_.OnSendResult(std::move(message), static_cast<SendOutcome>(command.result));
      }
      break;
    case CMD_LISTED_MESSAGE:
      if (auto message = command.TakeMessage()) incoming_.OnListedMessage(std::move(message));
      break;
    case CMD_READ_DONE:
      // The automation memory reader that waits for this is not part of
      // this build; the text is freed with the command.
      break;
    case CMD_SOURCE_MESSAGE:
      if (auto message = command.TakeMessage()) {
        outbox_.AddToOutbox(std::move(message));
        outbox_.DispatchNext();
      }
      break;
    case CMD_CONNECT:
      session_.Connect(std::move(command.done));
      break;
    case CMD_DISCONNECT:
      session_.Disconnect(command.result == ModemSession::kReconnecting, std::move(command.done));
      break;
    case CMD_TIMER:
      OnTimer(static_cast<uint32_t>(command.result));
      break;
    default:
      break;  // unknown codes are dropped with their payload
  }
}

void Gateway::OnTimer(uint32_t id) {
  switch (id) {
    case TIMER_POLL:
      listing_.StartPolling();
      break;
    case TIMER_POLL_DONE:
      listing_.FinishPolling();
      break;
    case TIMER_RESET:
      session_.ResetModem();
      break;
    case TIMER_RESET_RECONNECT:
      session_.Reconnect();
      break;
    case TIMER_RECONNECT:
      session_.CheckConnection();
      break;
    case TIMER_SEND_DELAY:
      outcomes_.OnSendDelayOver();
      break;
    case TIMER_HOUSEKEEPING:
      context_.transport.CheckBusyTimeout();
      outbox_.SaveChanges();
      outbox_.DispatchNext();
      ussdWaiters_.RemoveExpired();
      break;
    default:
      break;
  }
}

void Gateway::DrainAtExit() {
  while (auto command = context_.commands.TryPop()) {
    switch (command->code) {
      case CMD_INCOMING:
      case CMD_LISTED_MESSAGE:
      case CMD_SEND_RESULT:
      case CMD_SOURCE_MESSAGE:
        Execute(std::move(*command));
        break;
      default:
        break;  // a completion it carries reports that it was dropped
    }
  }
  outbox_.ReturnQueuedMessages();
  outbox_.SaveChanges();
}

}  // namespace qm
