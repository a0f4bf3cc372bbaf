// org.quillmoor.GSM.Settings at /org/quillmoor/GSM: the configuration by
// its own names, for tools that change settings the driver's properties do
// not cover. A change is saved at once, like a property's.
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <map>
#include <string>

#include "com/Settings_adaptor.h"

namespace qm {

struct AutomationContext;

class SettingsObject final : public sdbus::AdaptorInterfaces<org::quillmoor::GSM::Settings_adaptor> {
 public:
  SettingsObject(sdbus::IConnection& connection, const std::string& path, AutomationContext& driver);
  ~SettingsObject();

 private:
  std::map<std::string, std::string> List() override;
  std::string Get(const std::string& key) override;
  void Set(const std::string& key, const std::string& value) override;

  AutomationContext& driver_;
};

}  // namespace qm
