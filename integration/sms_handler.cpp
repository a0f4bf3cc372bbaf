#include "integration/sms_handler.h"

#include "base/config_store.h"
#include "base/logger.h"
#include "platform/utf.h"

namespace qm {
namespace {

bool Occurs(std::string_view filter, std::string_view field) {
  return filter.empty() || ContainsIgnoreCase(field, filter);
}

}  // namespace

bool SMSHandler::Matches(const SMSMessage& message) const {
  return active && Occurs(fromFilter, message.from) && Occurs(toFilter, message.to) &&
         Occurs(bodyFilter, message.body);
}

void SMSHandler::LoadConfig(const ConfigStore& config, const std::string& prefix) {
  name = config.GetString(prefix + ".name");
  fromFilter = config.GetString(prefix + ".from_filter");
  toFilter = config.GetString(prefix + ".to_filter");
  bodyFilter = config.GetString(prefix + ".body_filter");
  event = static_cast<HandlerEvent>(config.GetInt(prefix + ".event"));
  log = config.GetInt(prefix + ".log");
  active = config.GetInt(prefix + ".inactive") == 0;
}

void SMSHandler::SaveConfig(ConfigStore& config, const std::string& prefix) const {
  config.SetString(prefix + ".name", name);
  config.SetString(prefix + ".from_filter", fromFilter);
  config.SetString(prefix + ".to_filter", toFilter);
  config.SetString(prefix + ".body_filter", bodyFilter);
  config.SetInt(prefix + ".event", static_cast<int>(event));
  config.SetInt(prefix + ".log", log);
  config.SetInt(prefix + ".inactive", active ? 0 : 1);
}

void SMSHandler::Failed(const std::string& why) const {
  services_.log.Write(LogLevel::kError, "Handler failed: " + why);
}

}  // namespace qm
