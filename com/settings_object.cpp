#include "com/settings_object.h"

#include <algorithm>

#include "base/config_store.h"
#include "base/logger.h"
#include "base/setting_text.h"
#include "com/automation_context.h"
#include "com/automation_errors.h"

namespace qm {

SettingsObject::SettingsObject(sdbus::IConnection& connection, const std::string& path, AutomationContext& driver)
    : AdaptorInterfaces(connection, path), driver_(driver) {
  registerAdaptor();
}

SettingsObject::~SettingsObject() { unregisterAdaptor(); }

std::map<std::string, std::string> SettingsObject::List() {
  return Guarded([&] {
    const auto values = driver_.config.Values();
    return std::map<std::string, std::string>(values.begin(), values.end());
  });
}

std::string SettingsObject::Get(const std::string& key) {
  return Guarded([&] {
    if (!driver_.config.Contains(key)) throw InvalidArg("Unknown setting " + key);
    return driver_.config.GetString(key);
  });
}

void SettingsObject::Set(const std::string& key, const std::string& value) {
  Guarded([&] {
    if (const std::string problem = SettingProblem(key, value); !problem.empty()) throw InvalidArg(problem);
    driver_.config.SetString(key, value);
    // The polling timer runs on its own; everything else is read when used.
    if (key == "receiver.polling_time" && driver_.setPollingTimer) {
      driver_.setPollingTimer(std::max(ConfigStore::ParseInt(value), 0));
    }
    if (driver_.saveConfiguration && !driver_.saveConfiguration()) throw Failure(kTextConfigError);
    driver_.log.Write(LogLevel::kDetail, "Setting " + key + " changed by an automation client");
  });
}

}  // namespace qm
