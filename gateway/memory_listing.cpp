#include "gateway/memory_listing.h"

#include <algorithm>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/driver_timers.h"
#include "gateway/user_notices.h"
#include "modem/async_serial_comm.h"
#include "modem/memory_commands.h"
#include "modem/modem_info.h"
#include "modem/modem_sender.h"
#include "modem/read_mode.h"
#include "platform/utf.h"

namespace qm {
namespace {

// What an OK reply does in each step; a step not listed ignores it.
struct ListingTransition {
  ListingStep from;
  ListingStep to;
  ListingAction action;
};
constexpr ListingTransition kOnOk[] = {
    {ListingStep::kReaderSelectingMemory, ListingStep::kReaderListing, ListingAction::kQueueListing},
    {ListingStep::kPollingSelectingMemory, ListingStep::kPollingStarted, ListingAction::kNone},
    {ListingStep::kPollingStarted, ListingStep::kPollingListing, ListingAction::kQueueListing},
    {ListingStep::kReaderListing, ListingStep::kIdle, ListingAction::kReaderDone},
    {ListingStep::kPollingListing, ListingStep::kPollingDone, ListingAction::kPollingDone},
};

constexpr std::string_view kAlreadyQueued = "CMGL command is already queued, new command cancelled";

}  // namespace

MemoryListing::MemoryListing(const GatewayContext& context, ModemInfo& modem)
    : context_(context),
      modem_(modem),
      afterReading_([commands = &context.commands](DriverCommand command) { commands->Push(std::move(command)); }) {}

void MemoryListing::StartPolling() {
  if (ConfiguredReadMode(context_.config) != ReadMode::kPolling) return;
  StartRound(ListingStep::kPollingStarted);
}

void MemoryListing::StartCatchUp() {
  const ReadMode mode = ConfiguredReadMode(context_.config);
  if (mode != ReadMode::kNotifyIndex && mode != ReadMode::kNotifyContent) return;
  caughtUp_.clear();
  StartRound(ListingStep::kPollingListing);  // one listing, not the polling round's two
}

void MemoryListing::StartRound(ListingStep listingStep) {
  const LinkStatus status = context_.transport.GetStatus();
  if (status != LinkStatus::kReady && status != LinkStatus::kBusy) return;
  if (Running()) return;
  auto listing = BuildListingCommand(true);
  if (!listing) {
    PostReadFailed();
    return;
  }
  step_ = listingStep;
  const std::string memory = context_.config.GetString("receiver.polling_memory");
  if (!memory.empty() && modem_.Memory(0) != memory) {
    // The storage to read is the polling memory, not whichever is current.
    context_.sender.Push(std::make_unique<ATCommandMessage>("AT+CPMS=\"" + memory + "\"\r\n"));
    selecting_ = memory;
    step_ = ListingStep::kPollingSelectingMemory;
  }
  if (ListingCommandQueued()) {
    context_.log.Write(LogLevel::kWarning, kAlreadyQueued);
    step_ = ListingStep::kIdle;
    return;
  }
  context_.sender.Push(std::move(listing));
}

void MemoryListing::StartReading(const std::string& memory) {
  if (Running()) return;
  listed_.clear();  // what an earlier listing left is not this reader's
  if (!memory.empty() && !EqualsIgnoreCase(modem_.Memory(0), memory)) {
    // Listed only once the selection is answered: an error ends the read.
    context_.sender.Push(std::make_unique<ATCommandMessage>("AT+CPMS=\"" + memory + "\"\r\n"));
    selecting_ = memory;
    step_ = ListingStep::kReaderSelectingMemory;
    return;
  }
  step_ = ListingStep::kReaderListing;
  QueueListing();
}

void MemoryListing::OnReply(const AsyncEvent& event, bool success) {
  // Deletions, reads and acknowledgements run alongside a listing; only the
  // listing's own commands move it.
  if (!event.command.empty() && !StartsWithIgnoreCase(event.command, "AT+CPMS") &&
      !StartsWithIgnoreCase(event.command, "AT+CMGL")) {
    return;
  }
  if (event.kind == EventKind::kError || event.kind == EventKind::kFailure) {
    context_.notices.ShowBalloon("Error", "Serial port: " + event.text);
    if (IsPolling(step_) && ConfiguredDeleteMode(context_.config) == DeleteMode::kAll) {
      context_.sender.Push(DeleteAllCommand(context_.config));
    } else {
      PostReadFailed();
    }
    step_ = ListingStep::kIdle;
    selecting_.clear();
    draining_ = false;
    return;
  }
  if (!success || event.kind != EventKind::kOk) return;
  const auto* transition =
      std::find_if(std::begin(kOnOk), std::end(kOnOk), [this](const ListingTransition& t) { return t.from == step_; });
  if (transition == std::end(kOnOk)) return;
  if (!selecting_.empty() && (step_ == ListingStep::kPollingSelectingMemory ||
                              step_ == ListingStep::kReaderSelectingMemory)) {
    modem_.SetMemory(0, std::exchange(selecting_, {}));
  }
  if (transition->action == ListingAction::kReaderDone || transition->action == ListingAction::kPollingDone) {
    // The listing's entries may still wait to be read: the listing ends
    // once they have been handed on.
    if (draining_) return;
    draining_ = true;
    afterReading_(DriverCommand(CMD_LISTING_DRAINED, static_cast<int32_t>(transition->action)));
    return;
  }
  step_ = transition->to;
  if (transition->action == ListingAction::kQueueListing) QueueListing();
}

void MemoryListing::OnDrained(ListingAction action) {
  if (!draining_) return;  // abandoned meanwhile
  draining_ = false;
  if (action == ListingAction::kReaderDone && step_ == ListingStep::kReaderListing) {
    step_ = ListingStep::kIdle;
    context_.commands.Push(DriverCommand(CMD_READ_DONE, static_cast<int32_t>(ListingStep::kReaderListing)));
  } else if (action == ListingAction::kPollingDone && step_ == ListingStep::kPollingListing) {
    step_ = ListingStep::kPollingDone;
    if (ConfiguredDeleteMode(context_.config) == DeleteMode::kAll)
      context_.sender.Push(DeleteAllCommand(context_.config));
    if (ConfiguredReadMode(context_.config) != ReadMode::kPolling) {
      FinishPolling();  // a catch-up round: no repeats of later rounds to drop
      return;
    }
    context_.timers.Schedule(TIMER_POLL_DONE, TimerIntervalMs(context_.config.GetInt("receiver.polling_time"), 500),
                             true);
  }
}

void MemoryListing::QueueListing() {
  auto command = BuildListingCommand(IsPolling(step_));
  if (!command) {
    PostReadFailed();
    step_ = ListingStep::kIdle;
  } else if (ListingCommandQueued()) {
    context_.log.Write(LogLevel::kWarning, kAlreadyQueued);
    if (IsReaderListing(step_)) PostReadFailed();  // the reader waits for its end
    step_ = ListingStep::kIdle;
  } else {
    context_.sender.Push(std::move(command));
  }
}

void MemoryListing::FinishPolling() {
  step_ = ListingStep::kIdle;
  polled_.clear();
}

void MemoryListing::Abandon() {
  if (Running()) PostReadFailed();
  step_ = ListingStep::kIdle;
  draining_ = false;
  selecting_.clear();
  polled_.clear();
  caughtUp_.clear();
  listed_.clear();
}

namespace {

// The message of `kept` that `message` repeats, or nullptr.
const SMSMessage* FindRepeated(const std::vector<std::unique_ptr<SMSMessage>>& kept, const SMSMessage& message) {
  const auto seen = std::find_if(kept.begin(), kept.end(), [&](const auto& m) { return m->IsDuplicateOf(message); });
  return seen != kept.end() ? seen->get() : nullptr;
}

}  // namespace

const SMSMessage* MemoryListing::CollectPolled(const SMSMessage& message) {
  if (const SMSMessage* seen = FindRepeated(polled_, message)) return seen;
  polled_.push_back(message.Clone());
  return nullptr;
}

const SMSMessage* MemoryListing::CollectCaughtUp(const SMSMessage& message) {
  if (const SMSMessage* seen = FindRepeated(caughtUp_, message)) return seen;
  // A notice read just before the listing starts may meet it again, so all
  // are kept, as many as a large memory holds.
  constexpr std::size_t kMostKept = 256;
  if (caughtUp_.size() >= kMostKept) caughtUp_.erase(caughtUp_.begin());
  caughtUp_.push_back(message.Clone());
  return nullptr;
}

void MemoryListing::AddListed(std::unique_ptr<SMSMessage> message) { listed_.push_back(std::move(message)); }

std::vector<std::unique_ptr<SMSMessage>> MemoryListing::TakeListed() { return std::exchange(listed_, {}); }

std::unique_ptr<ATCommandMessage> MemoryListing::BuildListingCommand(bool unreadOnly) const {
  return ListCommand(unreadOnly ? ListStatus::kUnread : ListStatus::kAll, context_.config);
}

bool MemoryListing::ListingCommandQueued() const {
  bool queued = false;
  context_.sender.Queue().ForEach([&](const std::unique_ptr<GenericMessage>& item) {
    if (const auto* at = dynamic_cast<const ATCommandMessage*>(item.get())) {
      queued = queued || at->Command().rfind("AT+CMGL=", 0) == 0;
    }
  });
  return queued;
}

void MemoryListing::PostReadFailed() {
  // The step tells a failed polling round from the automation reader's.
  context_.commands.Push(
      DriverCommand(CMD_READ_DONE, static_cast<int32_t>(step_), std::string("Can't read modem memory")));
}

}  // namespace qm
