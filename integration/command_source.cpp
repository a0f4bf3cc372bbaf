#include "integration/command_source.h"

#include <chrono>

#include "base/config_store.h"
#include "platform/shell_command.h"

namespace qm {

void CmdLineSMSSource::LoadConfig(const ConfigStore& config, const std::string& prefix) {
  SMSSource::LoadConfig(config, prefix);
  path = config.GetString(prefix + ".path");
  cmd = config.GetString(prefix + ".cmd");
}

void CmdLineSMSSource::SaveConfig(ConfigStore& config, const std::string& prefix) const {
  SMSSource::SaveConfig(config, prefix);
  config.SetString(prefix + ".path", path);
  config.SetString(prefix + ".cmd", cmd);
}

WorkItems CmdLineSMSSource::Retrieve() {
  const int seconds = services_.config.GetInt("source.timeout");
  const ShellResult result =
      RunShellCommand({cmd, path, {}}, std::chrono::seconds(seconds > 0 ? seconds : 0), services_.stop);
  switch (result.outcome) {
    case ShellOutcome::kNotStarted:
      RetrieveFailed(result.error);
      return {};
    case ShellOutcome::kTimedOut:
      RetrieveFailed("timeout");
      return {};
    case ShellOutcome::kStopped:
      RetrieveFailed("the driver is stopping");
      return {};
    case ShellOutcome::kFinished:
      break;
  }
  // The exit status does not matter: what the command printed is its answer.
  LogReturned(result.output);
  return TakeDocument(cmd, result.output);
}

}  // namespace qm
