#include "com/automation_registration.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "com/automation_server.h"
#include "com/interface_files.h"
#include "platform/environment.h"
#include "platform/errors.h"
#include "platform/file_util.h"

namespace qm {
namespace {

std::string ServicesFolder() { return DataHome() + "/dbus-1/services"; }
std::string InterfacesFolder() { return DataHome() + "/dbus-1/interfaces"; }

std::string ServiceFile(unsigned instance) {
  return ServicesFolder() + "/" + AutomationBusName(instance) + ".service";
}

bool Write(const std::string& path, const std::string& text, RegistrationResult& result) {
  SysError err;
  if (!WriteFileAtomically(path, text, 0644, &err)) {
    result.report += "Cannot write " + path + ": " + err.text + "\n";
    result.exitCode = 1;
    return false;
  }
  result.report += "Wrote " + path + "\n";
  return true;
}

void Remove(const std::string& path, RegistrationResult& result) {
  if (std::remove(path.c_str()) == 0) {
    result.report += "Removed " + path + "\n";
  } else if (errno != ENOENT) {
    result.report += "Cannot remove " + path + ": " + SysErrorFromErrno(errno).text + "\n";
    result.exitCode = 1;
  }
}

}  // namespace

RegistrationResult RegisterAutomation(const std::string& executable, unsigned instance) {
  RegistrationResult result;
  for (const std::string& folder : {ServicesFolder(), InterfacesFolder()}) {
    SysError err;
    if (!MakeDirectories(folder, 0755, &err)) {
      result.report += "Cannot create " + folder + ": " + err.text + "\n";
      result.exitCode = 1;
      return result;
    }
  }
  // The bus starts the driver without a terminal; "-noicon" as it has no tray.
  std::string exec = executable + " -noicon";
  if (instance > 0) exec += " -inst" + std::to_string(instance);
  Write(ServiceFile(instance), "[D-BUS Service]\nName=" + AutomationBusName(instance) + "\nExec=" + exec + "\n",
        result);
  for (const auto& [name, text] : kInterfaceFiles) Write(InterfacesFolder() + "/" + name, text, result);
  return result;
}

RegistrationResult UnregisterAutomation(unsigned instance) {
  RegistrationResult result;
  Remove(ServiceFile(instance), result);
  // The interface files are shared by every instance: they go with the last one.
  bool othersRemain = false;
  for (unsigned other = 0; other < 100 && !othersRemain; ++other) {
    std::error_code ignored;
    othersRemain = other != instance && std::filesystem::exists(ServiceFile(other), ignored);
  }
  if (!othersRemain) {
    for (const auto& [name, text] : kInterfaceFiles) Remove(InterfacesFolder() + "/" + name, result);
  }
  return result;
}

}  // namespace qm
