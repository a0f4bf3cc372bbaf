#include "gateway/send_outcomes.h"

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/driver_counters.h"
#include "gateway/driver_timers.h"
#include "gateway/outbox.h"
#include "gateway/user_notices.h"
#include "modem/modem_sender.h"
#include "platform/clock.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"

namespace qm {

SendOutcomes::SendOutcomes(const GatewayContext& context, Outbox& outbox) : context_(context), outbox_(outbox) {}

bool SendOutcomes::FileMessage(const SMSMessage& message, bool sent) {
  FileDatabase& table = sent ? *context_.tables.sent : *context_.tables.failed;
  const std::string id = table.NewId();
  table.Put(sent ? MakeSentRow(message, id, table.Separator()) : MakeFailedRow(message, id, table.Separator()));
  if (table.Save() == 0) return true;
  context_.log.Write(LogLevel::kError, std::string("Error saving the ") + (sent ? "sent" : "failed") +
                                           " table: " + table.LastError().text);
  return false;
}

void SendOutcomes::OnSendResult(std::unique_ptr<SMSMessage> message, SendOutcome outcome) {
  const int kind = message->Kind();
  if (kind != kKindSms && kind != kKindPush && kind != kKindUssd) return;
  if (outcome == SendOutcome::kReturned) {
    // Never submitted (the worker stopped): as it was, first in line.
    outbox_.Requeue(*message, true);
    return;
  }
  const bool sent = outcome == SendOutcome::kSent;
  // Until its new row is saved the message stays in the outbox too, so a
  // crash cannot lose it; the next start removes the outbox row.
  const auto file = [&](bool asSent) {
    if (FileMessage(*message, asSent)) outbox_.Complete(*message);
  };
  const ConfigStore& config = context_.config;
  const int retries = config.GetInt("sender.retries");
  if (outcome == SendOutcome::kFailed && retries > 0 && message->attempts < static_cast<uint32_t>(retries)) {
    message->attempts += 1;
    context_.counters.retries += 1;
    outbox_.Requeue(*message, false);
    outbox_.DispatchNext();
  } else if (!sent) {
    file(false);
    context_.counters.CountFailure(true);
    context_.counters.failedTotal += 1;
    if (observers_) {
      observers_->StatusChanged(message->id, MessageStatus::kFailed);
      observers_->MessageFiled(*message, false);
    }
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
    file(true);
    context_.counters.CountFailure(false);
    context_.counters.sentTotal += 1;
    context_.counters.lastSubmission = UnixNow();
    if (observers_) {
      observers_->StatusChanged(message->id, MessageStatus::kSent);
      observers_->MessageFiled(*message, true);
    }
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
