#include "gateway/send_outcomes.h"

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/driver_counters.h"
#include "gateway/driver_timers.h"
#include "gateway/outbox.h"
#include "gateway/user_notices.h"
#include "modem/modem_sender.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"

namespace qm {

SendOutcomes::SendOutcomes(const GatewayContext& context, Outbox& outbox) : context_(context), outbox_(outbox) {}

void SendOutcomes::FileMessage(const SMSMessage& message, bool sent) {
  FileDatabase& table = sent ? *context_.tables.sent : *context_.tables.failed;
  const std::string id = table.NewId();
  table.Put(sent ? MakeSentRow(message, id, table.Separator()) : MakeFailedRow(message, id, table.Separator()));
  if (table.Save() != 0) {
    context_.log.Write(LogLevel::kError, std::string("Error saving the ") + (sent ? "sent" : "failed") +
                                             " table: " + table.LastError().text);
  }
}

void SendOutcomes::OnSendResult(std::unique_ptr<SMSMessage> message, bool sent) {
  const int kind = message->Kind();
  if (kind != kKindSms && kind != kKindPush && kind != kKindUssd) return;
  const ConfigStore& config = context_.config;
  const int retries = config.GetInt("sender.retries");
  if (!sent && retries > 0 && message->attempts < static_cast<uint32_t>(retries)) {
    message->attempts += 1;
    outbox_.ReturnToOutbox(*message, false);
    outbox_.DispatchNext();
  } else if (!sent) {
    FileMessage(*message, false);
    context_.counters.CountFailure(true);
    if (config.GetInt("sms_fail_notify") != 0) {
      if (kind == kKindUssd) {
        context_.notices.ShowBalloon("Error sending USSD!", "Failed to send USSD request '" + message->body +
                                                                "'.\r\nPlease view modem log for more information.");
      } else {
        context_.notices.ShowBalloon("Error sending SMS!", "Failed to send SMS to " + message->to + ":\n" +
                                                               context_.sender.LastErrorText());
      }
    }
  } else {
    FileMessage(*message, true);
    context_.counters.CountFailure(false);
  }
  PaceNextSend();
}

void SendOutcomes::PaceNextSend() {
  const int delay = context_.config.GetInt("sender.delay");
  if (delay >= 1) {
    sendDelayPending_ = true;
    context_.timers.Schedule(TIMER_SEND_DELAY, static_cast<uint32_t>(delay), true);
  } else {
    outbox_.DispatchNext();
  }
}

void SendOutcomes::OnSendDelayOver() {
  sendDelayPending_ = false;
  outbox_.DispatchNext();
}

}  // namespace qm
