#include "gateway/outbox.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/user_notices.h"
#include "modem/async_serial_comm.h"
#include "modem/modem_sender.h"
#include "storage/message_rows.h"
#include "storage/table_format.h"
#include "storage/table_setup.h"

namespace qm {

Outbox::Outbox(const GatewayContext& context) : context_(context) {
  SettleFiled();
  std::lock_guard lock(mutex_);
  for (const Row& row : context_.tables.outbox->SelectNotEqual(kRowIdColumn, "", 0)) {
    dispatchList_.push_back(row[kRowIdColumn]);
  }
}

void Outbox::SettleFiled() {
  FileDatabase& outbox = *context_.tables.outbox;
  const Rows waiting = outbox.SelectNotEqual(kRowIdColumn, "", 0);
  if (waiting.empty()) return;
  int64_t lowest = INT64_MAX;
  for (const Row& row : waiting) lowest = std::min(lowest, ReadDecimal(row[kUniqueIdColumnOfRows]));
  // Only rows of ids from the lowest waiting one on can be the same message:
  // ids grow, so this reads the end of "sent" and "failed", not all of them.
  using Key = std::tuple<std::string, std::string, std::string>;
  std::set<Key> filed;
  for (FileDatabase* table : {context_.tables.sent.get(), context_.tables.failed.get()}) {
    for (const Row& row : table->SelectByNumber(kUniqueIdColumnOfRows, lowest - 1, 0, 0)) {
      filed.emplace(row[kUniqueIdColumnOfRows], row[kOutboxToColumn], row[kOutboxContentColumn]);
    }
  }
  bool removed = false;
  for (const Row& row : waiting) {
    if (!filed.contains(Key(row[kUniqueIdColumnOfRows], row[kOutboxToColumn], row[kOutboxContentColumn]))) continue;
    context_.log.Write(LogLevel::kWarning, "Message " + row[kUniqueIdColumnOfRows] +
                                               " was filed before the driver stopped; its outbox row goes");
    outbox.Remove(row[kRowIdColumn]);
    removed = true;
  }
  if (removed && outbox.Save() != 0) {
    context_.log.Write(LogLevel::kError, "Error saving the outbox: " + outbox.LastError().text);
  }
}

bool Outbox::SaveLocked() {
  FileDatabase& outbox = *context_.tables.outbox;
  if (outbox.Save() == 0) {
    unsaved_ = false;
    return true;
  }
  context_.log.Write(LogLevel::kError, "Error saving the outbox: " + outbox.LastError().text);
  return false;
}

void Outbox::AddToOutbox(std::unique_ptr<SMSMessage> message) {
  if (!message) return;
  const ConfigStore& config = context_.config;
  const std::string srcPrefix = config.GetString("ton_src_prefix");
  if (!srcPrefix.empty() && message->to.compare(0, srcPrefix.size(), srcPrefix) == 0) {
    message->to = config.GetString("ton_dst_prefix") + message->to.substr(srcPrefix.size());
  }
  const std::string& to = message->to;
  if (config.GetInt("ton_warning") == 1 && (message->toTon == 1 || message->toTon == 2) && to.size() > 2 &&
      to[0] == '0' && to[1] != '0') {
    context_.notices.ShowBalloon(
        "Warning", "Number '" + to + "' is in national format. SMS may not be delivered. Country code using is recommended.");
  }
  message->rowId.clear();  // a new row
  Requeue(*message, false);
}

void Outbox::DispatchNext() {
  if (context_.transport.GetStatus() != LinkStatus::kReady) return;
  FileDatabase& outbox = *context_.tables.outbox;
  std::lock_guard lock(mutex_);
  if (dispatchList_.empty()) return;
  const std::string id = dispatchList_.front();
  dispatchList_.pop_front();
  Row row;
  if (outbox.Get(id, row) == 0) return;  // deleted meanwhile
  std::unique_ptr<SMSMessage> message = MessageFromOutboxRow(row);
  if (!message) {
    // A type that is no message kind: nothing can be sent.
    outbox.Remove(id);
    SaveLocked();
    return;
  }
  message->rowId = id;
  context_.sender.Push(std::move(message));
}

bool Outbox::Requeue(const SMSMessage& message, bool front) {
  FileDatabase& outbox = *context_.tables.outbox;
  std::lock_guard lock(mutex_);
  Row existing;
  const bool hasRow = !message.rowId.empty() && outbox.Get(message.rowId, existing) == 1;
  const std::string id = hasRow ? message.rowId : outbox.NewId();
  outbox.Put(MakeOutboxRow(message, id, outbox.Separator()));
  if (front) {
    dispatchList_.push_front(id);
  } else {
    dispatchList_.push_back(id);
  }
  return SaveLocked();
}

void Outbox::Complete(const SMSMessage& message) {
  if (message.rowId.empty()) return;
  std::lock_guard lock(mutex_);
  context_.tables.outbox->Remove(message.rowId);
  unsaved_ = true;
}

void Outbox::SaveChanges() {
  std::lock_guard lock(mutex_);
  if (unsaved_ && SaveLocked()) unsaved_ = false;
}

void Outbox::ReturnQueuedMessages() {
  // Messages handed to the modem queue are still in the outbox; they go back
  // to the front of the list in their order, and are never lost.
  auto items = context_.sender.TakeAll();
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if (auto* message = dynamic_cast<SMSMessage*>(it->get())) Requeue(*message, true);
  }
}

std::vector<std::string> Outbox::DispatchList() const {
  std::lock_guard lock(mutex_);
  return {dispatchList_.begin(), dispatchList_.end()};
}

}  // namespace qm
