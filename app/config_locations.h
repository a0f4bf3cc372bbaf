// Where the configuration lives: a key in the key store, a per-user file and
// the template file shipped in the program folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/config_store.h"

namespace qm {

struct ConfigLocations {
  KeyRoot root = KeyRoot::kCurrentUser;
  std::string subkey;        // "Software\Quillmoor SMS\Quillmoor GSM Driver" [+ " N"]
  std::string userFolder;    // "%appdata%/Quillmoor SMS", expanded
  std::string userFile;      // userFolder + "/qmdriver.cfg"
  std::string templatePath;  // the first templateFolders entry holding qmdriver.cfg (else the first)
  // Where the template is looked for: the program folder (the current one),
  // then the installed share/qmdriver beside the executable's bin/, then the
  // one of the configured install prefix.
  std::vector<std::string> templateFolders;
};

inline constexpr std::string_view kRegistrySubkey = "Software\\Quillmoor SMS\\Quillmoor GSM Driver";
inline constexpr std::string_view kUserFolder = "%appdata%/Quillmoor SMS";
inline constexpr std::string_view kConfigFileName = "qmdriver.cfg";

// The locations for an instance number, program folder and profile choice
// (the template's is found on the file system).
ConfigLocations MakeConfigLocations(unsigned instance, const std::string& programFolder,
                                    bool useServiceProfile);

// Loads from the key store, else the per-user file, else the template (after
// creating the per-user folder). Shows the start-up message box and returns
// false when neither works.
bool LoadConfiguration(ConfigStore& config, const ConfigLocations& where);

// Saves to the key store, falling back to the per-user file.
bool SaveConfiguration(const ConfigStore& config, const ConfigLocations& where);

}  // namespace qm
