// Where "qmctl config" reads and changes settings by their configuration
// names: through the running driver (which applies and saves a change), or,
// when no driver runs on that instance's data, in its key store directly,
// with the same atomic save the driver uses.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tools/qmctl/arguments.h"

namespace qm {

class SettingAccess {
 public:
  virtual ~SettingAccess() = default;

  virtual bool DriverRuns() const = 0;
  virtual std::map<std::string, std::string> List() = 0;
  // Nothing when the setting does not exist.
  virtual std::optional<std::string> Get(const std::string& key) = 0;
  // Throws CommandFailure when the change is refused or cannot be saved.
  virtual void Set(const std::string& key, const std::string& value) = 0;
};

enum class SettingUse { kRead, kChange };

// The driver when it runs, else its stored settings. A driver that runs but
// cannot be reached (no bus in this shell) still lets its saved settings be
// read, never changed. Throws CommandFailure when neither can be reached.
std::unique_ptr<SettingAccess> OpenSettings(const GlobalOptions& options, SettingUse use);

}  // namespace qm
