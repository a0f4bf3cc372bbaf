// A source that fetches its message document from a URL (".location") with
// a GET. Nothing is sent back after a poll: the server hands out each
// message once.
#pragma once

#include <memory>
#include <string>

#include "integration/sms_source.h"

namespace qm {

class UrlSMSSource final : public SMSSource {
 public:
  using SMSSource::SMSSource;
  UrlSMSSource(const UrlSMSSource&) = default;

  std::unique_ptr<SMSSource> Clone() const override { return std::make_unique<UrlSMSSource>(*this); }
  SourceKind Kind() const override { return SourceKind::kUrl; }
  std::string TypeName() const override { return "url"; }
  std::string Location() const override { return location; }

  // Anything but a whole 200 answer is logged as "Failed to retrieve URL
  // source: status %d" (0 when no status arrived) and gives nothing.
  WorkItems Retrieve() override;

  void LoadConfig(const ConfigStore& config, const std::string& prefix) override;
  void SaveConfig(ConfigStore& config, const std::string& prefix) const override;

  std::string location;
};

}  // namespace qm
