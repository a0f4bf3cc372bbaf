// A handler that runs a command line (".cmd") through /bin/sh in a working
// directory (".path"). The message's values reach the command only as
// environment variables (see FillShellTemplate), so no message can make the
// shell run anything. With ".log" set the command is waited for at most
// "source.timeout" seconds and its output logged; otherwise it is started
// and left to run.
#pragma once

#include "integration/sms_handler.h"

namespace qm {

class CmdLineSMSHandler final : public SMSHandler {
 public:
  using SMSHandler::SMSHandler;

  std::unique_ptr<SMSHandler> Clone() const override { return std::make_unique<CmdLineSMSHandler>(*this); }
  std::string TypeName() const override { return "cmdline"; }
  int Handle(const SMSMessage& message, HandlerStatus status) override;
  void LoadConfig(const ConfigStore& config, const std::string& prefix) override;
  void SaveConfig(ConfigStore& config, const std::string& prefix) const override;

  std::string path;
  std::string cmd;

  CmdLineSMSHandler(const CmdLineSMSHandler&) = default;
};

}  // namespace qm
