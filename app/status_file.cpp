#include "app/status_file.h"

#include <fmt/format.h>

#include "app/config_locations.h"
#include "app/instance_names.h"
#include "base/config_store.h"
#include "base/path_variables.h"
#include "platform/file_util.h"

namespace qm {

std::string FormatStatusLine(const StatusSnapshot& s, std::string_view port) {
  const LocalTime& t = s.time;
  return fmt::format("updated: {:02}-{:02}-{:04} {:02}:{:02}:{:02}.{:03}", t.day, t.month, t.year, t.hour, t.minute,
                     t.second, t.millisecond) +
         fmt::format("; hwnd: {:08x}; pid: {}; instance: {}; port: {}", s.windowHandle, s.pid, s.instance, port) +
         fmt::format("; state:{}; outbox:{}; errors:{}", LinkStatusText(s.linkState), s.outboxRows, s.failures);
}

bool WriteStatusFile(ConfigStore& config, const StatusSnapshot& snapshot,
                     const std::function<void()>& saveConfiguration) {
  std::string path = config.GetString("status.file");
  if (path.empty()) return false;
  if (auto renamed = InstanceStatusPath(path, snapshot.instance)) {
    path = *renamed;
    config.SetString("status.file", path);
    if (saveConfiguration) saveConfiguration();
  }
  const std::string line = FormatStatusLine(snapshot, config.GetString("modem.port"));
  // A new file renamed over the old one: a reader sees the old line or the new one.
  return WriteFileAtomically(ExpandPathVariables(path, snapshot.serviceProfile), line, 0600);
}

}  // namespace qm
