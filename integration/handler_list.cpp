#include "integration/handler_list.h"

#include <algorithm>

#include "base/config_store.h"
#include "integration/cmdline_handler.h"
#include "integration/url_handler.h"

namespace qm {
namespace {

constexpr std::string_view kPrefix = "handler.%d";

}  // namespace

HandlerList::HandlerList(HandlerServices services) : services_(std::move(services)) {
  services_.stop = stop_.get_token();
}

void HandlerList::Load(const ConfigStore& config) {
  std::vector<std::shared_ptr<SMSHandler>> loaded;
  for (int i = 0;; ++i) {
    const std::string prefix = ConfigStore::FormatKey(kPrefix, i);
    const std::string type = config.GetString(prefix + ".type");
    std::shared_ptr<SMSHandler> handler;
    if (type == "cmdline") {
      handler = std::make_shared<CmdLineSMSHandler>(services_);
    } else if (type == "url") {
      handler = std::make_shared<URLSMSHandler>(services_);
    } else if (type == "COM") {
      continue;
    } else {
      break;
    }
    handler->LoadConfig(config, prefix);
    loaded.push_back(std::move(handler));
  }
  std::lock_guard lock(mutex_);
  handlers_ = std::move(loaded);
}

void HandlerList::Save(ConfigStore& config) const {
  const std::vector<std::shared_ptr<SMSHandler>> handlers = Snapshot();
  int i = 0;
  for (const auto& handler : handlers) {
    const std::string prefix = ConfigStore::FormatKey(kPrefix, i++);
    const std::string type = handler->TypeName();
    config.SetString(prefix + ".type", type);
    if (type != "COM") handler->SaveConfig(config, prefix);
  }
  config.SetString(ConfigStore::FormatKey(kPrefix, i) + ".type", "");
}

void HandlerList::Add(std::shared_ptr<SMSHandler> handler) {
  std::lock_guard lock(mutex_);
  handlers_.push_back(std::move(handler));
}

void HandlerList::Remove(const SMSHandler* handler) {
  std::lock_guard lock(mutex_);
  std::erase_if(handlers_, [handler](const auto& h) { return h.get() == handler; });
}

std::vector<std::shared_ptr<SMSHandler>> HandlerList::Snapshot() const {
  std::lock_guard lock(mutex_);
  return handlers_;
}

HandlerList::Outcome HandlerList::Dispatch(HandlerEvent event, const SMSMessage& message,
                                           HandlerStatus status) const {
  Outcome outcome;
  for (const auto& handler : Snapshot()) {
    if (handler->event != event || !handler->Matches(message)) continue;
    if (handler->Handle(message, status) == 0) {
      outcome.handled = true;
    } else {
      outcome.failed.push_back(handler->name);
    }
  }
  return outcome;
}

}  // namespace qm
