#include "app/one_shot_actions.h"

#include <cstdio>

#include "app/config_locations.h"
#include "app/instance_names.h"
#include "app/message_box.h"
#include "base/config_store.h"
#include "com/automation_registration.h"
#include "platform/environment.h"

namespace qm {
namespace {

constexpr const char* kNotice =
    "Quillmoor GSM Modem Driver " QM_VERSION " for Linux\n"
    "An SMS gateway for GSM modems and phones on a serial port.";

// Installs or removes the D-Bus activation and interface files for the user.
int Register(bool install, unsigned instance) {
  const RegistrationResult result =
      install ? RegisterAutomation(ExecutablePath(), instance) : UnregisterAutomation(instance);
  std::fputs(result.report.c_str(), result.exitCode == 0 ? stdout : stderr);
  return result.exitCode;
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
      return Register(true, options.instance);
    case ExitSwitch::kUnregServer:
    case ExitSwitch::kUnreg:
      return Register(false, options.instance);
    case ExitSwitch::kInit: {
      const int registered = Register(true, options.instance);
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
