#include "gateway/incoming_messages.h"

#include <algorithm>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/delivery_reports.h"
#include "gateway/driver_counters.h"
#include "gateway/memory_listing.h"
#include "gateway/message_observers.h"
#include "modem/memory_commands.h"
#include "modem/modem_info.h"
#include "modem/modem_sender.h"
#include "modem/read_mode.h"
#include "platform/utf.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"
#include "storage/text_escape.h"

namespace qm {

IncomingMessages::IncomingMessages(const GatewayContext& context, ModemInfo& modem, MemoryListing& listing,
                                   DeliveryReports& reports)
    : context_(context), modem_(modem), listing_(listing), reports_(reports) {}

void IncomingMessages::DeleteFromModem(const SMSMessage& message) {
  const ConfigStore& config = context_.config;
  const DeleteMode mode = ConfiguredDeleteMode(config);
  if (mode == DeleteMode::kLast) {
    if (message.memoryIndexes.empty()) return;
    // The locations are those of the memory the message was read from,
    // which a later notice may have replaced as the current one.
    if (!message.memory.empty() && !EqualsIgnoreCase(modem_.Memory(0), message.memory)) {
      modem_.SetMemory(0, message.memory);
      if (auto select = modem_.MakeSelectMemoryCommand()) context_.sender.Push(std::move(select));
    }
    for (int index : message.memoryIndexes) {
      if (index >= 0) context_.sender.Push(DeleteByIndexCommand(index));
    }
  } else if (mode == DeleteMode::kAll) {
    const int every = config.GetInt("sender.delete_after");
    if (every > 0 && context_.counters.received % static_cast<uint32_t>(every) == 0) {
      context_.sender.Push(DeleteAllCommand(config));
    }
  }
}

bool IncomingMessages::IsDuplicate(SMSMessage& message) {
  const ConfigStore& config = context_.config;
  // Only a polling round collects what it has seen; outside one, nothing is
  // kept (a later genuine repeat is not a duplicate of it).
  if (ConfiguredReadMode(config) == ReadMode::kPolling && IsPolling(listing_.Step())) {
    if (const SMSMessage* seen = listing_.CollectPolled(message)) {
      // The same locations listed again are the first copy's, which its own
      // deletion frees; freeing them twice could hit a message stored there
      // in between.
      std::erase_if(message.memoryIndexes, [seen](int index) {
        return std::find(seen->memoryIndexes.begin(), seen->memoryIndexes.end(), index) !=
               seen->memoryIndexes.end();
      });
      return true;
    }
  }
  if (config.GetInt("discard_duplicated") == 0) return false;
  // The inbox holds an equal message: same sender, recipient and text, and a
  // time stamp that is this message's own (a repeat of the same delivery,
  // not a second message that happens to say the same).
  const FileDatabase& inbox = *context_.tables.inbox;
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

void IncomingMessages::OnIncoming(std::unique_ptr<SMSMessage> message) {
  Logger& log = context_.log;
  if (message->Kind() == kKindStatusReport) {
    reports_.ApplyStatusReport(static_cast<StatusReport&>(*message));
    DeleteFromModem(*message);
    return;
  }
  context_.counters.received += 1;
  log.Write(LogLevel::kDetail, "Got SMS from " + message->from);
  if (IsDuplicate(*message)) {
    log.Write(LogLevel::kDetail, "Duplicated SMS ignored");
    DeleteFromModem(*message);
    return;
  }
  const bool handled = observers_ != nullptr && observers_->MessageReceived(*message);
  if (handled && context_.config.GetInt("inbox.discard_handled") != 0) {
    DeleteFromModem(*message);
    return;
  }
  FileDatabase& inbox = *context_.tables.inbox;
  inbox.Put(MakeInboxRow(*message, inbox.NewId(), handled, inbox.Separator()));
  if (inbox.Save() != 0) {
    // The row stays in memory and is written by the next save; the modem
    // keeps its copy until then.
    log.Write(LogLevel::kError, "Error saving the inbox: " + inbox.LastError().text);
    return;
  }
  DeleteFromModem(*message);
}

void IncomingMessages::OnListedMessage(std::unique_ptr<SMSMessage> message) {
  const ListingStep step = listing_.Step();
  if (!IsPolling(step) && ConfiguredReadMode(context_.config) != ReadMode::kPolling) {
    if (step == ListingStep::kReaderListing) message->flags |= kFlagListedByReader;
    listing_.AddListed(std::move(message));
    return;
  }
  OnIncoming(std::move(message));
}

}  // namespace qm
