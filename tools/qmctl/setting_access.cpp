#include "tools/qmctl/setting_access.h"

#include <cstdio>

#include "app/config_locations.h"
#include "app/instance_names.h"
#include "base/config_store.h"
#include "base/setting_text.h"
#include "platform/environment.h"
#include "platform/instance_lock.h"
#include "platform/key_store.h"
#include "tools/qmctl/driver_client.h"

namespace qm {
namespace {

constexpr const char* kSettingsPath = "/org/quillmoor/GSM";

class RunningDriver final : public SettingAccess {
 public:
  explicit RunningDriver(const GlobalOptions& options)
      : client_(options), settings_(client_, kSettingsPath, "Settings", Owner::kDriver) {}

  bool DriverRuns() const override { return true; }
  bool OnBus() { return client_.DriverOnBus(); }

  std::map<std::string, std::string> List() override {
    return settings_.Ask<std::map<std::string, std::string>>("List", kCallTimeout);
  }

  std::optional<std::string> Get(const std::string& key) override {
    try {
      return settings_.Ask<std::string>("Get", kCallTimeout, key);
    } catch (const CommandFailure& failure) {
      if (failure.code() == ExitCode::kUsage) return std::nullopt;  // no such setting
      throw;
    }
  }

  void Set(const std::string& key, const std::string& value) override {
    settings_.Call("Set", kCallTimeout, key, value);
  }

 private:
  DriverClient client_;
  RemoteObject settings_;
};

// The instance's settings as the driver would load them at its next start:
// the key store, else the per-user file, else the template.
class StoredSettings final : public SettingAccess {
 public:
  explicit StoredSettings(ConfigLocations where) : where_(std::move(where)) {
    if (config_.LoadFromRegistry(where_.root, where_.subkey)) return;
    // A key store this user may not read is no reason to show the template.
    SysError error;
    if (!ReadKeyValues(where_.root, where_.subkey, &error) && error.code != kErrFileNotFound) {
      throw CommandFailure(ExitCode::kRefused, "cannot read " + KeyFilePath(where_.root, where_.subkey) + ": " +
                                                   error.text);
    }
    if (config_.LoadFromFile(where_.userFile)) return;
    if (!config_.LoadFromFile(where_.templatePath)) {
      throw CommandFailure(ExitCode::kRefused, "no settings found: neither " + KeyFilePath(where_.root, where_.subkey) +
                                                   " nor " + where_.userFile + " nor the template " +
                                                   where_.templatePath + " can be read");
    }
    std::fprintf(stderr, "qmctl: the driver has not started yet; the settings come from %s\n",
                 where_.templatePath.c_str());
  }

  bool DriverRuns() const override { return false; }

  std::map<std::string, std::string> List() override {
    const auto values = config_.Values();
    return {values.begin(), values.end()};
  }

  std::optional<std::string> Get(const std::string& key) override {
    if (!config_.Contains(key)) return std::nullopt;
    return config_.GetString(key);
  }

  void Set(const std::string& key, const std::string& value) override {
    if (const std::string problem = SettingProblem(key, value); !problem.empty()) {
      throw CommandFailure(ExitCode::kUsage, problem);
    }
    config_.SetString(key, value);
    if (!SaveConfiguration(config_, where_)) {
      throw CommandFailure(ExitCode::kRefused, "cannot save the settings in " +
                                                   KeyFilePath(where_.root, where_.subkey) + " or " + where_.userFile);
    }
  }

 private:
  ConfigLocations where_;
  ConfigStore config_;
};

}  // namespace

std::unique_ptr<SettingAccess> OpenSettings(const GlobalOptions& options, SettingUse use) {
  // The driver on the bus is the one to ask; without a bus, or with nobody
  // on it, its lock tells whether a driver runs on these settings anyway.
  std::optional<std::string> busProblem;
  try {
    auto driver = std::make_unique<RunningDriver>(options);
    if (driver->OnBus()) return driver;
  } catch (const CommandFailure& failure) {
    busProblem = failure.what();
  }
  ConfigLocations where = MakeConfigLocations(options.instance, CurrentFolder(), options.systemBus);
  switch (ProbeInstanceLock(where.userFolder, MutexName(options.instance))) {
    case LockHolder::kProcess:
      if (use == SettingUse::kRead) {
        std::fprintf(stderr, "qmctl: the driver runs but cannot be reached; these are its saved settings\n");
        return std::make_unique<StoredSettings>(std::move(where));
      }
      throw CommandFailure(ExitCode::kNoDriver, "the driver runs but cannot be reached" +
                                                    (busProblem ? " (" + *busProblem + ")" : " on the bus") +
                                                    "; its settings stay untouched while it runs");
    case LockHolder::kUnknown:
      throw CommandFailure(ExitCode::kNoDriver, "no driver answers on the bus, and the settings in " +
                                                    where.userFolder + " are not readable to this user");
    case LockHolder::kNobody:
      break;
  }
  // Run as root on the service's data, the files must stay the service's.
  std::string why;
  if (options.systemBus && !BecomeOwnerOf(ServiceHome(), why)) throw CommandFailure(ExitCode::kRefused, why);
  return std::make_unique<StoredSettings>(std::move(where));
}

}  // namespace qm
