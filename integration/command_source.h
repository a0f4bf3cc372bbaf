// A source that runs a command (".cmd") through /bin/sh in a working
// directory (".path") and reads the message document it prints. The command
// is waited for at most "source.timeout" seconds; on time-out or at exit its
// whole process group is ended. Printing the same messages at the next poll
// sends them again: the command decides what is new.
#pragma once

#include <memory>
#include <string>

#include "integration/sms_source.h"

namespace qm {

class CmdLineSMSSource final : public SMSSource {
 public:
  using SMSSource::SMSSource;
  CmdLineSMSSource(const CmdLineSMSSource&) = default;

  std::unique_ptr<SMSSource> Clone() const override { return std::make_unique<CmdLineSMSSource>(*this); }
  SourceKind Kind() const override { return SourceKind::kCommand; }
  std::string TypeName() const override { return "cmdline"; }
  std::string Location() const override { return cmd; }

  WorkItems Retrieve() override;

  void LoadConfig(const ConfigStore& config, const std::string& prefix) override;
  void SaveConfig(ConfigStore& config, const std::string& prefix) const override;

  std::string path;
  std::string cmd;
};

}  // namespace qm
