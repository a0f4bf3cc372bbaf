// Installing and removing the driver as a systemd service.
//
// "-instservice" writes the unit qmdriver[_N].service and enables it;
// "-uninstservice" disables and removes it without stopping a running
// service. The unit folder is /etc/systemd/system, or $QMDRIVER_SYSTEMD_DIR
// when set: with that redirection systemctl is never called, so tests cannot
// touch the machine's services. systemctl also is not called when systemd
// does not run (no /run/systemd/system) or is not installed.
//
// Failures come back as log lines "<call> failed, error code <n>" naming the
// service-manager call they stand for; the caller writes them to the log at
// level 2. Called on the main thread during start-up.
#pragma once

#include <string>
#include <vector>

#include "platform/log_level.h"

namespace qm {

struct ServiceUnitRequest {
  std::string appName;        // "qmdriver" or "qmdriver_N": unit name and description
  unsigned instance = 0;      // adds "-instN" to the command for N above 0
  std::string executable;     // absolute path; empty: this process's executable
  std::string programFolder;  // the working folder of the service
};

struct ServiceLogLine {
  LogLevel level = LogLevel::kDetail;
  std::string text;
};

struct ServiceResult {
  bool ok = false;
  std::vector<ServiceLogLine> log;  // for the caller to log, in order
};

ServiceResult InstallService(const ServiceUnitRequest& request);
ServiceResult UninstallService(const std::string& appName);

// The unit file text (pure). Fails only for paths holding line breaks.
bool MakeServiceUnitText(const ServiceUnitRequest& request, const std::string& executable, std::string& text);

// The folder units are written to.
std::string SystemdUnitFolder();

}  // namespace qm
