#include "gateway/automation_reader.h"

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/memory_listing.h"
#include "gateway/modem_snapshot.h"
#include "modem/async_serial_comm.h"
#include "modem/memory_commands.h"
#include "modem/modem_info.h"
#include "modem/modem_sender.h"
#include "platform/utf.h"

namespace qm {

MemoryAccess CheckMemoryAccess(LinkStatus status, bool modemConfigured, bool listing) {
  if (status == LinkStatus::kDisconnected || status == LinkStatus::kError) return MemoryAccess::kCannotConnect;
  if (status == LinkStatus::kConfiguring || !modemConfigured) return MemoryAccess::kNotConfigured;
  if (listing) return MemoryAccess::kAlreadyReading;
  return MemoryAccess::kAllowed;
}

AutomationReader::AutomationReader(const GatewayContext& context, ModemInfo& modem, MemoryListing& listing,
                                   const SharedModemSnapshot& snapshot)
    : context_(context), modem_(modem), listing_(listing), snapshot_(snapshot) {}

MemoryAccess AutomationReader::Check() const {
  const ModemSnapshot modem = snapshot_.Get();
  return CheckMemoryAccess(context_.transport.GetStatus(), modem.configured, modem.listing || active_.load());
}

AutomationReader::Requested AutomationReader::Request(Finished finished) {
  const MemoryAccess access = Check();
  if (access != MemoryAccess::kAllowed) return {access, 0};
  // Two callers that both saw no listing: the first one reads.
  bool idle = false;
  if (!active_.compare_exchange_strong(idle, true)) return {MemoryAccess::kAlreadyReading, 0};
  Ticket ticket = 0;
  {
    std::lock_guard lock(mutex_);
    ticket = nextTicket_++;
    if (nextTicket_ == 0) nextTicket_ = 1;
    requested_ = Waiting{ticket, std::move(finished)};
  }
  context_.commands.Push(DriverCommand(CMD_READ_MEMORY, static_cast<int32_t>(ticket)));
  return {MemoryAccess::kAllowed, ticket};
}

void AutomationReader::Forget(Ticket ticket) {
  std::lock_guard lock(mutex_);
  for (std::optional<Waiting>* waiting : {&requested_, &reading_}) {
    if (*waiting && (*waiting)->ticket == ticket) (*waiting)->finished = nullptr;
  }
  std::erase_if(outcomes_, [ticket](const auto& kept) { return kept.first == ticket; });
}

std::optional<MemoryReadOutcome> AutomationReader::Take(Ticket ticket) {
  std::lock_guard lock(mutex_);
  for (auto kept = outcomes_.begin(); kept != outcomes_.end(); ++kept) {
    if (kept->first != ticket) continue;
    MemoryReadOutcome outcome = std::move(kept->second);
    outcomes_.erase(kept);
    return outcome;
  }
  return std::nullopt;
}

MemoryAccess AutomationReader::Remove(const SMSMessage& message) {
  const MemoryAccess access = Check();
  if (access == MemoryAccess::kAllowed) context_.commands.Push(DriverCommand(CMD_DELETE_STORED, 0, message.Clone()));
  return access;
}

MemoryAccess AutomationReader::Clear() {
  const MemoryAccess access = Check();
  if (access == MemoryAccess::kAllowed) context_.commands.Push(DriverCommand(CMD_DELETE_STORED));
  return access;
}

void AutomationReader::OnRequest(Ticket ticket) {
  Waiting waiting;
  {
    std::lock_guard lock(mutex_);
    if (!requested_ || requested_->ticket != ticket) return;
    waiting = std::move(*requested_);
    requested_.reset();
  }
  if (!waiting.finished) {  // the reader went before its request came
    active_ = false;
    return;
  }
  // What the bus thread saw may have changed since: the state is judged here.
  const MemoryAccess access = CheckMemoryAccess(context_.transport.GetStatus(), modem_.IsReady(), listing_.Running());
  if (access != MemoryAccess::kAllowed) {
    MemoryReadOutcome refused;
    refused.refused = access;
    Finish(std::move(waiting), std::move(refused));
    return;
  }
  {
    std::lock_guard lock(mutex_);
    reading_ = std::move(waiting);
  }
  listing_.StartReading(context_.config.GetString("receiver.memory"));
}

void AutomationReader::OnReadDone(int32_t ended, const std::string* error) {
  if (!IsReaderListing(static_cast<ListingStep>(ended))) return;
  MemoryReadOutcome outcome;
  outcome.error = error != nullptr ? *error : std::string();
  outcome.messages = listing_.TakeListed();
  std::optional<Waiting> waiting;
  {
    std::lock_guard lock(mutex_);
    waiting.swap(reading_);
  }
  if (!waiting) {
    active_ = false;
    return;
  }
  Finish(std::move(*waiting), std::move(outcome));
}

void AutomationReader::Finish(Waiting waiting, MemoryReadOutcome outcome) {
  const std::string error = outcome.error;
  if (waiting.finished) {
    std::lock_guard lock(mutex_);
    outcomes_.emplace_back(waiting.ticket, std::move(outcome));
    while (outcomes_.size() > kKeptOutcomes) outcomes_.pop_front();
  }
  active_ = false;
  if (waiting.finished) waiting.finished(waiting.ticket, error);
}

void AutomationReader::OnDelete(const DriverCommand& command) {
  const LinkStatus status = context_.transport.GetStatus();
  if (CheckMemoryAccess(status, modem_.IsReady(), false) != MemoryAccess::kAllowed) {
    // The link went while the request waited; the memory keeps the messages.
    context_.log.Write(LogLevel::kWarning, "The modem memory was not changed: the modem is not connected");
    return;
  }
  const SMSMessage* message = command.Message();
  // A listed message's locations belong to the memory it was listed from,
  // whatever "receiver.memory" says by now.
  const std::string memory =
      message != nullptr && !message->memory.empty() ? message->memory : context_.config.GetString("receiver.memory");
  Select(memory);
  if (message == nullptr) {
    context_.sender.Push(DeleteAllCommand(context_.config));
    return;
  }
  for (const int32_t index : message->memoryIndexes) {
    if (index >= 0) context_.sender.Push(DeleteByIndexCommand(index));
  }
}

void AutomationReader::Select(const std::string& memory) {
  if (memory.empty() || EqualsIgnoreCase(modem_.Memory(0), memory)) return;
  modem_.SetMemory(0, memory);
  if (auto select = modem_.MakeSelectMemoryCommand()) context_.sender.Push(std::move(select));
}

}  // namespace qm
