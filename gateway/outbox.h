// The outbox queue: messages waiting to be sent, as rows of the outbox table
// and, in the order they are to leave, the ids of those rows (the dispatch
// list, filled from the table at start).
//
// Lock order: the outbox lock is taken before the outbox table's own lock,
// never the other way round.
//
// Threads: AddToOutbox, ReturnToOutbox and DispatchList from any thread;
// DispatchNext and ReturnQueuedMessages on the command thread (and at exit,
// once the threads have stopped).
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
  // Moves the next outbox row to the modem command queue. The sending
  // pipeline is not part of this build, so messages wait in the outbox.
  void DispatchNext();
  // Puts a message back into the outbox with its id and attempts: at the
  // front of the dispatch list (taken back from the modem queue) or at the
  // end (a retry). False when the outbox could not be saved (the row stays
  // in memory and is written by the next save).
  bool ReturnToOutbox(const SMSMessage& message, bool front);
  // Empties the modem command queue: messages go back to the front of the
  // outbox in their queue order, raw AT commands are dropped.
  void ReturnQueuedMessages();

  // The identifiers waiting to be dispatched, oldest first.
  std::vector<std::string> DispatchList() const;

 private:
  GatewayContext context_;
  mutable std::mutex mutex_;  // the outbox lock
  std::deque<std::string> dispatchList_;
};

}  // namespace qm
