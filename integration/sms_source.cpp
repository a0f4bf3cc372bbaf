#include "integration/sms_source.h"

#include "base/config_store.h"
#include "base/logger.h"
#include "platform/utf.h"

namespace qm {

void SMSSource::LoadConfig(const ConfigStore& config, const std::string& prefix) {
  name = config.GetString(prefix + ".name");
  period = config.GetInt(prefix + ".period");
  log = config.GetInt(prefix + ".log");
  active = config.GetInt(prefix + ".inactive") == 0;
}

void SMSSource::SaveConfig(ConfigStore& config, const std::string& prefix) const {
  config.SetString(prefix + ".name", name);
  config.SetInt(prefix + ".period", period);
  config.SetInt(prefix + ".log", log);
  config.SetInt(prefix + ".inactive", active ? 0 : 1);
}

void SMSSource::LogReturned(std::string_view bytes) const {
  if (log != 0) services_.log.Write(LogLevel::kDetail, "SMS source returned: " + SanitizeUtf8(std::string(bytes)));
}

void SMSSource::RetrieveFailed(std::string_view why) const {
  services_.log.Write(LogLevel::kError, "Failed to retrieve source: " + std::string(why));
}

WorkItems SMSSource::TakeDocument(std::string_view documentName, std::string_view bytes) const {
  MessageDocument document = ParseMessageDocument(documentName, bytes);
  switch (document.status) {
    case DocumentStatus::kParserUnavailable:
      services_.log.Write(LogLevel::kError, "Failed to initialize XML functions!");
      return {};
    case DocumentStatus::kNotParsed:
      services_.log.Write(LogLevel::kError, "Failed to parse file " + std::string(documentName) + "!");
      return {};
    case DocumentStatus::kParsed:
      break;
  }
  if (!document.replays.empty() && services_.replay) services_.replay(document.replays);
  return std::move(document.items);
}

}  // namespace qm
