// What every automation object is made with.
#pragma once

#include <sdbus-c++/IConnection.h>

#include <memory>
#include <string>

#include "com/automation_context.h"
#include "com/object_registry.h"

namespace qm {

class StatusObservers;
class SyncWaits;

struct AutomationServices {
  sdbus::IConnection& connection;
  AutomationContext& driver;
  ObjectRegistry& registry;
  StatusObservers& observers;  // SendAndTrace and SendWithReply observers
  SyncWaits& syncWaits;        // the calls that reply once something happened (SendSync, ReadSync)
};

// The makers of the five classes, each in its class's file.
std::unique_ptr<AutomationObject> MakeSMSDriver(AutomationServices& services, const std::string& path);
std::unique_ptr<AutomationObject> MakeSMSMessage(AutomationServices& services, const std::string& path);
std::unique_ptr<AutomationObject> MakeSMSHandler(AutomationServices& services, const std::string& path);
std::unique_ptr<AutomationObject> MakeSMSMemory(AutomationServices& services, const std::string& path);
std::unique_ptr<AutomationObject> MakeUSSDRequest(AutomationServices& services, const std::string& path);

}  // namespace qm
