#include "app/config_locations.h"

#include "app/message_box.h"
#include "base/path_variables.h"
#include "platform/file_util.h"

namespace qm {

ConfigLocations MakeConfigLocations(unsigned instance, const std::string& programFolder,
                                    bool useServiceProfile) {
  ConfigLocations where;
  where.root = useServiceProfile ? KeyRoot::kServiceAccount : KeyRoot::kCurrentUser;
  where.subkey = std::string(kRegistrySubkey);
  if (instance > 0) where.subkey += " " + std::to_string(instance);
  where.userFolder = ExpandPathVariables(kUserFolder, useServiceProfile);
  where.userFile = where.userFolder + "/" + std::string(kConfigFileName);
  where.templatePath = programFolder + "/" + std::string(kConfigFileName);
  return where;
}

bool LoadConfiguration(ConfigStore& config, const ConfigLocations& where) {
  if (config.LoadFromRegistry(where.root, where.subkey)) return true;
  if (config.LoadFromFile(where.userFile)) return true;
  if (!MakeDirectories(where.userFolder, 0700)) {
    ShowMessageBox("Error", "Error creating directory " + where.userFolder);
    return false;
  }
  if (!config.LoadFromFile(where.templatePath)) {
    ShowMessageBox("Error", "Failed to initialize application! Please reinstall Quillmoor GSM Modem Driver!");
    return false;
  }
  return true;
}

bool SaveConfiguration(const ConfigStore& config, const ConfigLocations& where) {
  if (config.SaveToRegistry(where.root, where.subkey)) return true;
  return config.SaveToFile(where.userFile);
}

}  // namespace qm
