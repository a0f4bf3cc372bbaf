#include "integration/file_source.h"

#include "base/config_store.h"
#include "base/logger.h"
#include "platform/file_take.h"

namespace qm {

void FileSMSSource::LoadConfig(const ConfigStore& config, const std::string& prefix) {
  SMSSource::LoadConfig(config, prefix);
  location = config.GetString(prefix + ".location");
}

void FileSMSSource::SaveConfig(ConfigStore& config, const std::string& prefix) const {
  SMSSource::SaveConfig(config, prefix);
  config.SetString(prefix + ".location", location);
}

WorkItems FileSMSSource::Retrieve() {
  const TakenFile taken = TakeFileContent(location);
  if (!taken.read) {
    RetrieveFailed(location);
    services_.log.Write(LogLevel::kDetail, location + ": " + taken.error);
    return {};
  }
  LogReturned(taken.content);
  if (!taken.emptied) {
    services_.log.Write(LogLevel::kError, "Failed to reset source: " + location);
    services_.log.Write(LogLevel::kDetail, location + ": " + taken.error);
  }
  if (taken.content.empty()) return {};
  return TakeDocument(location, taken.content);
}

}  // namespace qm
