// Registering the automation server for the user, as "-RegServer" does: a
// D-Bus activation file (so a client that calls the bus name starts the
// driver, as COM starts a local server) and the interface files, under
// $XDG_DATA_HOME/dbus-1 ("services", "interfaces"). "-UnregServer" removes
// them.
#pragma once

#include <string>

namespace qm {

struct RegistrationResult {
  int exitCode = 0;     // 0 when every file was written or removed
  std::string report;   // one line per file, or the failure
};

// `executable` is the driver's absolute path; instance N > 0 gets its own
// bus name and starts with "-instN".
RegistrationResult RegisterAutomation(const std::string& executable, unsigned instance);
RegistrationResult UnregisterAutomation(unsigned instance);

}  // namespace qm
