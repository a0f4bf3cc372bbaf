// The outbox queue: messages waiting to be sent, as rows of the outbox table
// and, in the order they are to leave, the ids of those rows (the dispatch
// list, filled from the table at start).
//
// A row stays in the outbox while its message is with the modem and goes
// only once the message is filed in "sent" or "failed" (that row written
// first): a crash at any moment leaves every message in exactly one of the
// three tables, or in two for a moment, which the next start settles by
// removing the outbox row of a message already filed.
//
// Lock order: the outbox lock is taken before the outbox table's own lock,
// never the other way round.
//
// Threads: AddToOutbox, DispatchNext, Requeue, Complete and DispatchList from
// any thread; ReturnQueuedMessages on the command thread (and at exit, once
// the threads have stopped).
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gateway/gateway_context.h"
#include "sms/message.h"

namespace qm {

class Outbox {
 public:
  explicit Outbox(const GatewayContext& context);
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Stores a new outgoing message as an outbox row at the end of the
  // dispatch list ("ton_src_prefix" rewriting and the national-format
  // warning first).
  void AddToOutbox(std::unique_ptr<SMSMessage> message);
  // While the link is ready: hands the message of the oldest listed row to
  // the modem command queue (its row stays). A row gone meanwhile is skipped;
  // one of an unknown type is removed and dropped.
  void DispatchNext();
  // A message that was not sent goes back to the dispatch list: at the front
  // (it was never tried) or at the end (a retry); its row gets its attempts.
  // A message without a row gets a new one. False when the outbox could not
  // be saved (the row stays in memory and is written by the next save).
  bool Requeue(const SMSMessage& message, bool front);
  // The message is filed elsewhere: its row goes. The file follows with the
  // next SaveChanges (a crash before that leaves the row, which the next
  // start removes as filed already): one rewrite a second, not one a message.
  void Complete(const SMSMessage& message);
  // Writes removals not yet on disk (housekeeping, and at exit with every table).
  void SaveChanges();
  // Empties the modem command queue: messages go back to the front of the
  // dispatch list in their queue order, raw AT commands are dropped.
  void ReturnQueuedMessages();

  // The identifiers waiting to be dispatched, oldest first.
  std::vector<std::string> DispatchList() const;

 private:
  // Removes the rows of messages that are filed already (a crash between
  // filing and removing).
  void SettleFiled();
  bool SaveLocked();

  GatewayContext context_;
  mutable std::mutex mutex_;  // the outbox lock
  std::deque<std::string> dispatchList_;
  bool unsaved_ = false;  // rows removed since the last save
};

}  // namespace qm
