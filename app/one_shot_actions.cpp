#include "app/one_shot_actions.h"

#include <cstdio>

#include "app/config_locations.h"
#include "app/instance_names.h"
#include "app/message_box.h"
#include "base/config_store.h"

namespace qm {
namespace {

constexpr const char* kNotice =
    "Quillmoor GSM Modem Driver " QM_VERSION " for Linux\n"
    "An SMS gateway for GSM modems and phones on a serial port.";

// The automation interface is registered by the automation server, which is
// not part of this build: there is nothing to register or remove.
int RegisterAutomation(bool install) {
  std::fprintf(stderr, "qmdriver: the automation interface is not part of this build; nothing %s\n",
               install ? "registered" : "removed");
  return 0;
}

// Stores the template configuration in the user's key store.
int InitialiseConfiguration(const StartupOptions& options, const std::string& programFolder) {
  ConfigLocations where = MakeConfigLocations(options.instance, programFolder, options.serviceProfile);
  where.root = KeyRoot::kCurrentUser;
  ConfigStore config;
  if (!LoadConfiguration(config, where)) return 0;
  if (!config.SaveToRegistry(where.root, where.subkey)) {
    ShowMessageBox("Error", "The configuration could not be saved to " + KeyFilePath(where.root, where.subkey));
  }
  return 0;
}

}  // namespace

int RunExitSwitch(const StartupOptions& options, const std::string& programFolder) {
  switch (options.exitSwitch) {
    case ExitSwitch::kRegServer:
      return RegisterAutomation(true);
    case ExitSwitch::kUnregServer:
    case ExitSwitch::kUnreg:
      return RegisterAutomation(false);
    case ExitSwitch::kInit: {
      const int registered = RegisterAutomation(true);
      InitialiseConfiguration(options, programFolder);
      return registered;
    }
    case ExitSwitch::kViewAuthor:
      ShowMessageBox(kProductTitle, kNotice);
      return 0;
    case ExitSwitch::kNone:
      break;
  }
  return 0;
}

}  // namespace qm
