#include "gateway/incoming_messages.h"

#include <algorithm>
#include <cstdlib>

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
      if (index < 0) continue;
      RememberUndeleted(message, index);
      context_.sender.Push(DeleteByIndexCommand(index));
    }
  } else if (mode == DeleteMode::kAll) {
    const int every = config.GetInt("sender.delete_after");
    if (every > 0 && context_.counters.received % static_cast<uint32_t>(every) == 0) {
      context_.sender.Push(DeleteAllCommand(config));
    }
  }
}

std::string IncomingMessages::MemoryOf(const SMSMessage& message) const {
  return message.memory.empty() ? modem_.Memory(0) : message.memory;
}

void IncomingMessages::RememberUndeleted(const SMSMessage& message, int index) {
  const std::string memory = MemoryOf(message);
  std::erase_if(undeleted_, [&](const Undeleted& u) { return u.index == index && EqualsIgnoreCase(u.memory, memory); });
  // As many as the largest memories hold; the oldest were deleted long ago.
  constexpr std::size_t kMostRemembered = 1000;
  if (undeleted_.size() >= kMostRemembered) undeleted_.erase(undeleted_.begin());
  undeleted_.push_back(Undeleted{memory, index, message.Clone()});
}

bool IncomingMessages::IsUndeletedCopy(const SMSMessage& message) const {
  const std::string memory = MemoryOf(message);
  // Only a deletion that is no longer queued: one still waiting frees the
  // location itself, and a second could hit a message stored there after.
  return std::any_of(undeleted_.begin(), undeleted_.end(), [&](const Undeleted& u) {
    return u.recheck && EqualsIgnoreCase(u.memory, memory) &&
           std::find(message.memoryIndexes.begin(), message.memoryIndexes.end(), u.index) !=
               message.memoryIndexes.end() &&
           u.message->IsDuplicateOf(message);
  });
}

std::vector<std::pair<std::string, int>> IncomingMessages::RecheckUndeleted() {
  std::vector<std::pair<std::string, int>> locations;
  for (Undeleted& u : undeleted_) {
    u.recheck = true;
    locations.emplace_back(u.memory, u.index);
  }
  return locations;
}

void IncomingMessages::OnCommandReply(const AsyncEvent& event) {
  // Done when the modem answered: OK, or a +CMS error (nothing there). No
  // answer at all (a time-out, the link gone) leaves it to be checked again.
  const bool answered = event.kind == EventKind::kOk || event.kind == EventKind::kFailure;
  if (!answered || !StartsWithIgnoreCase(event.command, "AT+CMGD=")) return;
  const std::string arguments = event.command.substr(8);
  const std::size_t comma = arguments.find(',');
  const bool wholeMemory = comma != std::string::npos && arguments.substr(comma + 1, 1) != "0";
  const int index = std::atoi(arguments.c_str());
  const std::string memory = modem_.Memory(0);
  std::erase_if(undeleted_, [&](const Undeleted& u) {
    return EqualsIgnoreCase(u.memory, memory) && (wholeMemory || u.index == index);
  });
}

bool IncomingMessages::IsDuplicate(SMSMessage& message) {
  const ConfigStore& config = context_.config;
  const bool polling = ConfiguredReadMode(config) == ReadMode::kPolling;
  const bool fromMemory = !message.memoryIndexes.empty();
  // Stored before; only its deletion went missing. Deleted again (the
  // locations stay with it).
  if (fromMemory && IsUndeletedCopy(message)) return true;
  // Polling: a round collects what it has seen, and outside one nothing is
  // kept (a later genuine repeat is not a duplicate of it). Notification
  // modes: what was taken in since the connection counts, as the listing
  // after connecting and a notice may hand over the same stored message.
  if (!polling || IsPolling(listing_.Step())) {
    const SMSMessage* seen = polling ? listing_.CollectPolled(message) : listing_.CollectCaughtUp(message);
    if (seen != nullptr) {
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
  context_.counters.receivedTotal += 1;
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
