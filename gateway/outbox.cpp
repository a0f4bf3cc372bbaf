#include "gateway/outbox.h"

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/user_notices.h"
#include "modem/modem_sender.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"

namespace qm {

Outbox::Outbox(const GatewayContext& context) : context_(context) {
  std::lock_guard lock(mutex_);
  for (const Row& row : context_.tables.outbox->SelectNotEqual(kRowIdColumn, "", 0)) {
    dispatchList_.push_back(row[kRowIdColumn]);
  }
}

void Outbox::DispatchNext() {
  // Sending from the outbox arrives with the sending pipeline; until then the
  // rows and the dispatch list wait untouched.
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
  ReturnToOutbox(*message, false);
}

bool Outbox::ReturnToOutbox(const SMSMessage& message, bool front) {
  FileDatabase& outbox = *context_.tables.outbox;
  std::lock_guard lock(mutex_);
  Row row = MakeOutboxRow(message, outbox.NewId(), outbox.Separator());
  const std::string id = row[kRowIdColumn];
  outbox.Put(row);
  if (front) {
    dispatchList_.push_front(id);
  } else {
    dispatchList_.push_back(id);
  }
  if (outbox.Save() != 0) {
    context_.log.Write(LogLevel::kError, "Error saving the outbox: " + outbox.LastError().text);
    return false;
  }
  return true;
}

void Outbox::ReturnQueuedMessages() {
  // Messages already taken from the outbox must not be lost.
  auto items = context_.sender.TakeAll();
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if (auto* message = dynamic_cast<SMSMessage*>(it->get())) ReturnToOutbox(*message, true);
  }
}

std::vector<std::string> Outbox::DispatchList() const {
  std::lock_guard lock(mutex_);
  return {dispatchList_.begin(), dispatchList_.end()};
}

}  // namespace qm
