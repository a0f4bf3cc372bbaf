// The driver's side of the automation memory reader (an SMSMemory object):
// listing "receiver.memory" for it, and removing what it shows.
//
// The bus thread asks (Request, Remove, Clear) and never waits: whether the
// memory may be used is judged from the link status and the modem snapshot
// the command thread publishes, and judged again on the command thread
// (CMD_READ_MEMORY, CMD_DELETE_STORED), where the modem state lives. A read's
// outcome (refused, failed with a text, or the messages the listing showed)
// is kept under the read's ticket until the reader takes it, and the
// reader's callback is told, on the command thread, that it is there. One
// listing runs at a time, so one reader at most is waiting; a reader that
// asks again, or is released, is forgotten and not told.
//
// Threads: Check, Request, Forget, Take, Remove and Clear from any thread;
// OnRequest, OnReadDone and OnDelete on the command thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gateway/driver_command.h"
#include "gateway/gateway_context.h"
#include "modem/link_status.h"
#include "sms/message.h"

namespace qm {

class MemoryListing;
class ModemInfo;
class SharedModemSnapshot;

// Why the memory may not be used now.
enum class MemoryAccess : int {
  kAllowed = 0,
  kCannotConnect,   // the link is down or in error
  kNotConfigured,   // the modem is being configured, or its set-up never finished
  kAlreadyReading,  // a listing runs, or a reader's request waits for the command thread
};

MemoryAccess CheckMemoryAccess(LinkStatus status, bool modemConfigured, bool listing);

// What a read came to.
struct MemoryReadOutcome {
  MemoryAccess refused = MemoryAccess::kAllowed;      // not kAllowed: nothing was listed
  std::string error;                                  // the listing failed
  std::vector<std::unique_ptr<SMSMessage>> messages;  // as listed
};

class AutomationReader {
 public:
  using Ticket = uint32_t;
  // `ticket` has its outcome (`error` is its text); runs on the command
  // thread and must return at once.
  using Finished = std::function<void(Ticket ticket, const std::string& error)>;

  // Outcomes nobody took are dropped beyond this many.
  static constexpr std::size_t kKeptOutcomes = 8;

  AutomationReader(const GatewayContext& context, ModemInfo& modem, MemoryListing& listing,
                   const SharedModemSnapshot& snapshot);
  AutomationReader(const AutomationReader&) = delete;
  AutomationReader& operator=(const AutomationReader&) = delete;

  MemoryAccess Check() const;

  struct Requested {
    MemoryAccess access = MemoryAccess::kAllowed;
    Ticket ticket = 0;  // valid when access is kAllowed
  };
  // Checks, then asks the command thread to list the memory.
  Requested Request(Finished finished);
  // The reader of `ticket` is not told any more; its outcome is dropped.
  void Forget(Ticket ticket);
  // The outcome of `ticket`, once; nullopt while there is none.
  std::optional<MemoryReadOutcome> Take(Ticket ticket);
  // Check, then the locations of `message` (in its memory, else in
  // "receiver.memory") are deleted.
  MemoryAccess Remove(const SMSMessage& message);
  // Check, then everything in "receiver.memory" is deleted.
  MemoryAccess Clear();

  // CMD_READ_MEMORY (result: the ticket).
  void OnRequest(Ticket ticket);
  // CMD_READ_DONE: the listing `ended` in, with its error text (none: it
  // completed). Ends of polling listings are not the reader's.
  void OnReadDone(int32_t ended, const std::string* error);
  // CMD_DELETE_STORED.
  void OnDelete(const DriverCommand& command);

 private:
  struct Waiting {
    Ticket ticket = 0;
    Finished finished;  // empty once forgotten
  };
  // Keeps the outcome and tells the reader, without the lock.
  void Finish(Waiting waiting, MemoryReadOutcome outcome);
  // Selects `memory` when the modem reads another one.
  void Select(const std::string& memory);

  GatewayContext context_;
  ModemInfo& modem_;
  MemoryListing& listing_;
  const SharedModemSnapshot& snapshot_;

  // Set from a request until its listing ends or it is refused: the
  // command thread may not have taken the request yet.
  std::atomic<bool> active_{false};
  mutable std::mutex mutex_;
  Ticket nextTicket_ = 1;
  std::optional<Waiting> requested_;  // posted, not yet taken by the command thread
  std::optional<Waiting> reading_;    // its listing runs
  std::deque<std::pair<Ticket, MemoryReadOutcome>> outcomes_;
};

}  // namespace qm
