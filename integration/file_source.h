// A source that reads its message document from a file that other programs
// write (".location"), and empties the file after each poll.
#pragma once

#include <memory>
#include <string>

#include "integration/sms_source.h"

namespace qm {

class FileSMSSource final : public SMSSource {
 public:
  using SMSSource::SMSSource;
  FileSMSSource(const FileSMSSource&) = default;

  std::unique_ptr<SMSSource> Clone() const override { return std::make_unique<FileSMSSource>(*this); }
  SourceKind Kind() const override { return SourceKind::kFile; }
  std::string TypeName() const override { return "file"; }
  std::string Location() const override { return location; }

  // Takes the file's content under its locks and empties it; a file that
  // cannot be emptied is logged ("Failed to reset source: ...") and read
  // again at the next poll.
  WorkItems Retrieve() override;

  void LoadConfig(const ConfigStore& config, const std::string& prefix) override;
  void SaveConfig(ConfigStore& config, const std::string& prefix) const override;

  std::string location;
};

}  // namespace qm
