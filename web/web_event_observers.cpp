#include "web/web_event_observers.h"

#include "web/message_json.h"

namespace qm {

void WebEventObservers::StatusChanged(int32_t id, MessageStatus status) {
  if (next_) next_->StatusChanged(id, status);
}

void WebEventObservers::MessageFiled(const SMSMessage& message, bool sent) {
  if (next_) next_->MessageFiled(message, sent);
  const MessageTable table = sent ? MessageTable::kSent : MessageTable::kFailed;
  hub_.Publish(WebEvent{sent ? "sent" : "failed", JsonText(OutgoingJson(message, table))});
}

bool WebEventObservers::MessageReceived(const SMSMessage& message) {
  const bool handled = next_ != nullptr && next_->MessageReceived(message);
  hub_.Publish(WebEvent{"incoming", JsonText(IncomingJson(message))});
  return handled;
}

void WebEventObservers::DeliveryReported(const SMSMessage& message, bool delivered) {
  if (next_) next_->DeliveryReported(message, delivered);
  const nlohmann::json data{
      {"id", message.id}, {"to", message.to}, {"reference", message.reference}, {"delivered", delivered}};
  hub_.Publish(WebEvent{"delivered", JsonText(data)});
}

}  // namespace qm
