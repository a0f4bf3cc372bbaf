#include "integration/cmdline_handler.h"

#include <chrono>
#include <ctime>

#include "base/config_store.h"
#include "base/logger.h"
#include "platform/shell_command.h"
#include "platform/utf.h"

namespace qm {

void CmdLineSMSHandler::LoadConfig(const ConfigStore& config, const std::string& prefix) {
  SMSHandler::LoadConfig(config, prefix);
  path = config.GetString(prefix + ".path");
  cmd = config.GetString(prefix + ".cmd");
}

void CmdLineSMSHandler::SaveConfig(ConfigStore& config, const std::string& prefix) const {
  SMSHandler::SaveConfig(config, prefix);
  config.SetString(prefix + ".path", path);
  config.SetString(prefix + ".cmd", cmd);
}

int CmdLineSMSHandler::Handle(const SMSMessage& message, HandlerStatus status) {
  ShellTemplate filled = FillShellTemplate(cmd, ValuesOf(message, status, std::time(nullptr)));
  const ShellCommand command{std::move(filled.script), path, std::move(filled.environment)};
  if (log == 0) {
    const std::string error = StartShellCommand(command);
    if (error.empty()) return 0;
    Failed(error);
    return -1;
  }
  services_.log.Write(LogLevel::kDetail, "Handler command: " + command.script);
  const int seconds = services_.config.GetInt("source.timeout");
  const ShellResult result =
      RunShellCommand(command, std::chrono::seconds(seconds > 0 ? seconds : 0), services_.stop);
  switch (result.outcome) {
    case ShellOutcome::kNotStarted:
      Failed(result.error);
      return -1;
    case ShellOutcome::kTimedOut:
      Failed("timeout");
      return -1;
    case ShellOutcome::kStopped:
      Failed("the driver is stopping");
      return -1;
    case ShellOutcome::kFinished:
      break;
  }
  services_.log.Write(LogLevel::kDetail, "Handler output: " + SanitizeUtf8(result.output));
  // A command that says it failed did not handle the message; counting it
  // as handled could drop the message ("inbox.discard_handled").
  if (result.exitStatus != 0) {
    Failed("exit status " + std::to_string(result.exitStatus));
    return -1;
  }
  return 0;
}

}  // namespace qm
