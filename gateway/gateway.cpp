#include "gateway/gateway.h"

#include "base/logger.h"
#include "gateway/driver_timers.h"
#include "gateway/user_notices.h"
#include "modem/async_serial_comm.h"
#include "modem/memory_commands.h"
#include "modem/modem_sender.h"
#include "platform/utf.h"

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
      reports_(context),
      incoming_(context, modem_, listing_, reports_),
      outcomes_(context, outbox_),
      pipeline_(context.config, context.log, context.sender, events_, capabilities_),
      automationReader_(context, modem_, listing_, snapshot_),
      reader_(context) {
  context_.sender.SetMessageHandler(
      [this](std::unique_ptr<SMSMessage> message, std::stop_token stop) { pipeline_.Send(std::move(message), stop); });
  listing_.SetAfterReading([this](DriverCommand command) { reader_.PostAfterPending(std::move(command)); });
}

void Gateway::SetObservers(MessageObservers* observers) {
  outcomes_.SetObservers(observers);
  reports_.SetObservers(observers);
  incoming_.SetObservers(observers);
}

Gateway::~Gateway() { context_.sender.SetMessageHandler({}); }

void Gateway::Execute(DriverCommand command) {
  switch (command.code) {
    case CMD_INCOMING:
      if (auto message = command.TakeMessage()) incoming_.OnIncoming(std::move(message));
      break;
    case CMD_MODEM_EVENT:
      if (const AsyncEvent* event = command.Event()) {
        if (command.result == kUnsolicitedLine) {
          session_.OnUnsolicitedLine(*event);
        } else {
          const bool wasReady = modem_.IsReady();
          session_.OnModemEvent(*event, command.result != 0);
          incoming_.OnCommandReply(*event);
          if (!wasReady && modem_.IsReady()) {
            for (auto& [memory, index] : incoming_.RecheckUndeleted()) OnStoredNotice(memory, index);
          }
        }
      }
      break;
    case CMD_SEND_RESULT:
      if (auto message = command.TakeMessage()) {
        const bool sent = static_cast<SendOutcome>(command.result) == SendOutcome::kSent;
        const int32_t reference = message->reference;
        outcomes_.OnSendResult(std::move(message), static_cast<SendOutcome>(command.result));
        if (sent) reports_.RetryHeldReports(reference);
      }
      break;
    case CMD_LISTED_MESSAGE:
      if (auto message = command.TakeMessage()) incoming_.OnListedMessage(std::move(message));
      break;
    case CMD_READ_DONE:
      automationReader_.OnReadDone(command.result, command.Text());
      break;
    case CMD_READ_MEMORY:
      automationReader_.OnRequest(static_cast<AutomationReader::Ticket>(command.result));
      break;
    case CMD_DELETE_STORED:
      automationReader_.OnDelete(command);
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
    case CMD_STORED_NOTICE:
      if (const std::string* storage = command.Text()) OnStoredNotice(*storage, command.result);
      break;
    case CMD_LISTING_DRAINED:
      listing_.OnDrained(static_cast<ListingAction>(command.result));
      break;
    default:
      break;  // unknown codes are dropped with their payload
  }
  PublishSnapshot();
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
      ReadWaitingNotices();
      break;
    default:
      break;
  }
}

void Gateway::OnStoredNotice(std::string storage, int index) {
  // Notices that come while the modem is being set up are read once it is
  // ready; a modem that floods them is not followed without bound.
  constexpr std::size_t kMaxWaiting = 256;
  if (!modem_.IsReady() || !waitingNotices_.empty()) {
    if (waitingNotices_.size() >= kMaxWaiting) {
      context_.log.Write(LogLevel::kWarning, "Too many stored-message notices; " + storage + " " +
                                                 std::to_string(index) + " is left for the next listing");
      return;
    }
    waitingNotices_.emplace_back(std::move(storage), index);
    ReadWaitingNotices();
    return;
  }
  if (!storage.empty() && !EqualsIgnoreCase(modem_.Memory(0), storage)) {
    modem_.SetMemory(0, std::move(storage));
    if (auto select = modem_.MakeSelectMemoryCommand()) context_.sender.Push(std::move(select));
  }
  context_.sender.Push(ReadOneCommand(index));
}

void Gateway::ReadWaitingNotices() {
  if (!modem_.IsReady()) return;
  auto waiting = std::exchange(waitingNotices_, {});
  for (auto& [storage, index] : waiting) OnStoredNotice(std::move(storage), index);
}

void Gateway::PublishSnapshot() {
  snapshot_.Publish(ModemSnapshot{modem_.Model(), modem_.SignalStrength(), modem_.Features(), modem_.Failures(),
                                  modem_.IsReady(), listing_.Running()});
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
