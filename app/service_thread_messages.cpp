// The command thread's handling of messages: incoming ones, sending outcomes
// and messages read by a memory listing.
#include <algorithm>

#include "base/config_store.h"
#include "base/logger.h"
#include "app/main_frame.h"
#include "app/service_thread.h"
#include "modem/memory_commands.h"
#include "modem/modem_sender.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"
#include "storage/text_escape.h"

namespace qm {

void CServiceThread::DrainAtExit() {
  while (auto command = frame_.Commands().TryPop()) {
    switch (command->code) {
      case CMD_INCOMING:
      case CMD_LISTED_MESSAGE:
      case CMD_SEND_RESULT:
      case CMD_SOURCE_MESSAGE:
        Execute(std::move(*command));
        break;
      default:
        break;
    }
  }
}

void CServiceThread::DeleteFromModem(const SMSMessage& message) {
  const ConfigStore& config = frame_.Config();
  const int mode = config.GetInt("sender.delete_mode");
  if (mode == 1) {
    for (int index : message.memoryIndexes) {
      if (index >= 0) frame_.Sender().Push(DeleteByIndexCommand(index));
    }
  } else if (mode == 2) {
    const int every = config.GetInt("sender.delete_after");
    if (every > 0 && frame_.receivedCount.load() % static_cast<uint32_t>(every) == 0) {
      frame_.Sender().Push(DeleteAllCommand(config));
    }
  }
}

bool CServiceThread::IsDuplicate(const SMSMessage& message) {
  const ConfigStore& config = frame_.Config();
  if (config.GetInt("sender.read_mode") == 2 && frame_.Listing().CollectPolled(message)) return true;
  if (config.GetInt("discard_duplicated") == 0) return false;
  // The inbox holds an equal message: same sender, recipient and text, and a
  // time stamp that is this message's own (a repeat of the same delivery,
  // not a second message that happens to say the same).
  const FileDatabase& inbox = *frame_.Tables().inbox;
  const std::string sep = inbox.Separator();
  const std::string from = EscapeFieldText(message.from, sep);
  const std::string content = EscapeFieldText(message.body, sep);
  const std::string to = EscapeFieldText(message.to, sep);
  const std::string created = std::to_string(message.created);
  const std::string timestamp = std::to_string(message.timestamp);
  for (const Row& row : inbox.SelectMatchingAll({kInboxFromColumn, kInboxContentColumn, kInboxDestinationColumn},
                                                {from, content, to}, 0)) {
    if (row[kInboxFromColumn] != from || row[kInboxContentColumn] != content ||
        row[kInboxDestinationColumn] != to) {
      continue;  // the search ignores letter case; a duplicate does not
    }
    if (row[kRowTimestampColumn] == created || row[kRowTimestampColumn] == timestamp) return true;
  }
  return false;
}

void CServiceThread::OnIncoming(std::unique_ptr<SMSMessage> message) {
  Logger& log = frame_.Log();
  if (message->Kind() == kKindStatusReport) {
    // Matching reports to sent messages arrives with the delivery-report
    // support; until then the report is logged.
    log.Write(LogLevel::kDetail, "Status report for message reference " + std::to_string(message->reference) + ", status " +
                     std::to_string(static_cast<const StatusReport&>(*message).status));
    DeleteFromModem(*message);
    return;
  }
  frame_.receivedCount.fetch_add(1);
  log.Write(LogLevel::kDetail, "Got SMS from " + message->from);
  if (IsDuplicate(*message)) {
    log.Write(LogLevel::kDetail, "Duplicated SMS ignored");
    DeleteFromModem(*message);
    return;
  }
  // Incoming handlers arrive with the integration support; no handler has
  // handled the message yet.
  const bool handled = false;
  if (handled && frame_.Config().GetInt("inbox.discard_handled") != 0) {
    DeleteFromModem(*message);
    return;
  }
  FileDatabase& inbox = *frame_.Tables().inbox;
  inbox.Put(MakeInboxRow(*message, inbox.NewId(), handled, inbox.Separator()));
  if (inbox.Save() != 0) {
    // The row stays in memory and is written by the next save; the modem
    // keeps its copy until then.
    log.Write(LogLevel::kError, "Error saving the inbox: " + inbox.LastError().text);
    return;
  }
  DeleteFromModem(*message);
}

void CServiceThread::OnListedMessage(std::unique_ptr<SMSMessage> message) {
  ListingState& listing = frame_.Listing();
  const int state = listing.Get();
  if ((state & 8) == 0 && frame_.Config().GetInt("sender.read_mode") != 2) {
    if (state == 4) message->flags |= 2;
    listing.AddListed(std::move(message));
    return;
  }
  OnIncoming(std::move(message));
}

void CServiceThread::FileMessage(const SMSMessage& message, bool sent) {
  FileDatabase& table = sent ? *frame_.Tables().sent : *frame_.Tables().failed;
  const std::string id = table.NewId();
  table.Put(sent ? MakeSentRow(message, id, table.Separator()) : MakeFailedRow(message, id, table.Separator()));
  if (table.Save() != 0) {
    frame_.Log().Write(LogLevel::kError, std::string("Error saving the ") + (sent ? "sent" : "failed") +
                              " table: " + table.LastError().text);
  }
}

void CServiceThread::OnSendResult(std::unique_ptr<SMSMessage> message, bool sent) {
  const int kind = message->Kind();
  if (kind != kKindSms && kind != kKindPush && kind != kKindUssd) return;
  ConfigStore& config = frame_.Config();
  const int retries = config.GetInt("sender.retries");
  if (!sent && retries > 0 && message->attempts < static_cast<uint32_t>(retries)) {
    message->attempts += 1;
    frame_.ReturnToOutbox(*message, false);
    frame_.DispatchNext();
  } else if (!sent) {
    FileMessage(*message, false);
    frame_.CountFailure(true);
    if (config.GetInt("sms_fail_notify") != 0) {
      if (kind == kKindUssd) {
        frame_.ShowBalloon("Error sending USSD!", "Failed to send USSD request '" + message->body +
                                                      "'.\r\nPlease view modem log for more information.");
      } else {
        frame_.ShowBalloon("Error sending SMS!",
                           "Failed to send SMS to " + message->to + ":\n" + frame_.Sender().LastErrorText());
      }
    }
  } else {
    FileMessage(*message, true);
    frame_.CountFailure(false);
  }
  PaceNextSend();
}

void CServiceThread::PaceNextSend() {
  const int delay = frame_.Config().GetInt("sender.delay");
  if (delay >= 1) {
    frame_.sendDelayPending.store(true);
    frame_.Timers().Schedule(TIMER_SEND_DELAY, static_cast<uint32_t>(delay), true);
  } else {
    frame_.DispatchNext();
  }
}

}  // namespace qm
