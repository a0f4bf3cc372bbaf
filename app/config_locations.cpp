#include "app/config_locations.h"

#include <algorithm>

#include "app/message_box.h"
#include "base/path_variables.h"
#include "platform/environment.h"
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
  // A Linux program is started from anywhere: the current folder comes
  // first, as it always has, then the installed copy.
  const auto add = [&where](std::string folder) {
    if (!folder.empty() && std::find(where.templateFolders.begin(), where.templateFolders.end(), folder) ==
                               where.templateFolders.end()) {
      where.templateFolders.push_back(std::move(folder));
    }
  };
  add(programFolder);
  const std::string executable = ExecutablePath();
  if (!executable.empty()) add(DirName(DirName(executable)) + "/share/qmdriver");
#ifdef QM_DATA_DIR
  add(QM_DATA_DIR);
#endif
  where.templatePath = programFolder + "/" + std::string(kConfigFileName);
  for (const std::string& folder : where.templateFolders) {
    const std::string candidate = folder + "/" + std::string(kConfigFileName);
    if (IsRegularFile(candidate)) {
      where.templatePath = candidate;
      break;
    }
  }
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
    std::string searched;
    for (const std::string& folder : where.templateFolders) searched += (searched.empty() ? "" : ", ") + folder;
    ShowMessageBox("Error", "Failed to initialize application! Please reinstall Quillmoor GSM Modem Driver!\n"
                            "The template " + std::string(kConfigFileName) + " was looked for in: " + searched);
    return false;
  }
  return true;
}

bool SaveConfiguration(const ConfigStore& config, const ConfigLocations& where) {
  if (config.SaveToRegistry(where.root, where.subkey)) return true;
  return config.SaveToFile(where.userFile);
}

}  // namespace qm
