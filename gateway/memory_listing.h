// A listing of the modem memory, step by step: the polling listing that the
// poll timer starts, and the automation reader's listing.
//
// A listing advances with the OK replies of the commands it queues (the
// storage selection, then AT+CMGL); an error or time-out ends it. Polling
// collects the messages it has seen, so that the repeats of the next
// listings are dropped until the poll-done timer ends the round; the
// automation reader collects the messages it is shown.
//
// Threads: command thread only (timers and the frame post commands to it).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gateway/gateway_context.h"
#include "modem/at_command_message.h"
#include "sms/message.h"

namespace qm {

class ModemInfo;

// The steps keep the numbers the listing has always had: bit value 8 marks a
// polling listing.
enum class ListingStep : int {
  kIdle = 0,
  kReaderSelectingMemory = 1,   // the automation reader's storage selection is queued
  kReaderMemorySelected = 2,    // (not entered: the listing is queued once the selection is answered)
  kReaderListing = 4,           // the automation reader's AT+CMGL runs
  kPollingDone = 8,             // a polling round is complete until TIMER_POLL_DONE
  kPollingSelectingMemory = 9,  // polling: the storage selection is queued
  kPollingStarted = 10,         // polling: the listing is queued
  kPollingListing = 12,         // polling: AT+CMGL runs
};

inline bool IsPolling(ListingStep step) { return (static_cast<int>(step) & 8) != 0; }
inline bool IsReaderListing(ListingStep step) { return step != ListingStep::kIdle && !IsPolling(step); }

// What a completed step leads to (the result of CMD_LISTING_DRAINED).
enum class ListingAction : int {
  kNone = 0,
  kQueueListing = 1,  // the storage is selected: list it
  kReaderDone = 2,    // the automation reader's listing is complete
  kPollingDone = 3,   // the polling listing is complete
};

class MemoryListing {
 public:
  MemoryListing(const GatewayContext& context, ModemInfo& modem);
  MemoryListing(const MemoryListing&) = delete;
  MemoryListing& operator=(const MemoryListing&) = delete;

  ListingStep Step() const { return step_; }
  bool Running() const { return step_ != ListingStep::kIdle; }

  // TIMER_POLL: starts a polling listing when none runs, the read mode is
  // polling and the link is ready or busy.
  void StartPolling();
  // After a connection in a notification read mode: one listing of the
  // unread messages, taken in like a polling round. What arrived while the
  // driver was away, or before the modem was told to announce messages, was
  // stored without a word and would otherwise never be read.
  void StartCatchUp();
  // The automation reader's listing of every message in `memory` (the
  // current one when empty), selected first when the modem reads another;
  // only when no listing runs. Its end is a CMD_READ_DONE whose result is
  // the step it ended in.
  void StartReading(const std::string& memory);
  // A reply of a command while a listing runs.
  void OnReply(const AsyncEvent& event, bool success);
  // CMD_LISTING_DRAINED: every entry of the finished listing has been
  // handed on; the listing ends.
  void OnDrained(ListingAction action);
  // How the listing's end is posted once the entries before it have been
  // read (the memory reader's PostAfterPending; by default at once).
  void SetAfterReading(std::function<void(DriverCommand)> post) { afterReading_ = std::move(post); }
  // TIMER_POLL_DONE: idle, and the messages collected by polling dropped.
  void FinishPolling();
  // Ends a listing that will not complete (connect, disconnect, configuring):
  // idle, lists emptied, and a waiting automation reader told that the memory
  // can't be read.
  void Abandon();

  // Polling: the equal message collected before, if any; otherwise keeps a
  // copy of this one and returns nullptr.
  const SMSMessage* CollectPolled(const SMSMessage& message);
  // After a connection, the catch-up listing and the notifications of the
  // same moments may both hand over one stored message. The messages taken
  // in since the connection are kept (the newest 256); a message equal to
  // one of them is answered with that one (otherwise nullptr).
  const SMSMessage* CollectCaughtUp(const SMSMessage& message);
  // The automation reader's messages.
  void AddListed(std::unique_ptr<SMSMessage> message);
  std::vector<std::unique_ptr<SMSMessage>> TakeListed();

 private:
  // The command that lists the memory (unread messages only, or all); nullptr
  // when none can be built.
  std::unique_ptr<ATCommandMessage> BuildListingCommand(bool unreadOnly) const;
  // True when a listing command waits in the modem command queue.
  bool ListingCommandQueued() const;
  // Starts a round of listing the unread messages; `listingStep` is the
  // step the queued listing command runs in.
  void StartRound(ListingStep listingStep);
  // Queues the listing command, or ends the listing when none can be queued.
  void QueueListing();
  void PostReadFailed();

  GatewayContext context_;
  ModemInfo& modem_;
  ListingStep step_ = ListingStep::kIdle;
  std::string selecting_;  // the memory a queued selection makes current
  bool draining_ = false;  // the listing is complete, its entries are being read
  std::function<void(DriverCommand)> afterReading_;
  std::vector<std::unique_ptr<SMSMessage>> polled_;
  std::vector<std::unique_ptr<SMSMessage>> caughtUp_;
  std::vector<std::unique_ptr<SMSMessage>> listed_;
};

}  // namespace qm
