// qmdriver: the GSM modem driver.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/config_locations.h"
#include "app/config_store.h"
#include "app/logger.h"
#include "app/message_box.h"

namespace {

std::string CurrentDirectory() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

}  // namespace

int main() {
  using namespace qm;
  ConfigStore config;
  const ConfigLocations where = MakeConfigLocations(0, CurrentDirectory(), false);
  if (!LoadConfiguration(config, where)) return 0;

  const std::string logPath = ExpandPathVariables(config.GetString("logger.common"), false);
  Logger log(logPath, &config);
  const int threshold = Logger::ThresholdForLevel(config.GetInt("logger.level"));
  if (threshold >= 0) log.SetLevel(threshold);
  log.SetMaxSizeKb(static_cast<uint32_t>(config.GetInt("logger.maxsize")));
  SetMessageBoxLogger(&log);

  log.Write(0, "Version " QM_VERSION);
  log.Write(0, "Configuration loaded; log: " + logPath);
  std::printf("qmdriver %s: configuration loaded, log at %s\n", QM_VERSION, logPath.c_str());
  SetMessageBoxLogger(nullptr);
  return 0;
}
