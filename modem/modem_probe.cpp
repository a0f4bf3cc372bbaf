#include "modem/modem_probe.h"

#include "base/config_store.h"
#include "platform/serial_port.h"
#include "platform/utf.h"

namespace qm {
namespace {

constexpr uint32_t kProbeTimeoutMs = 500;
// The answer buffer holds 1024 bytes with room for its terminator.
constexpr std::size_t kMaxAnswer = 1023;

bool Exchange(SerialPort& port, const std::string& command) {
  if (port.Write(command).code != kErrNone) return false;
  std::string answer;
  port.ReadUntilSilence(answer, kMaxAnswer, kProbeTimeoutMs);
  return !answer.empty() && !ContainsIgnoreCase(answer, "ERROR");
}

}  // namespace

bool ProbePort(const PortEntry& entry, const ConfigStore& config) {
  if (entry.portName.empty()) return false;
  const std::string path =
      BuildPortPath(entry.portName, config.GetInt("port.use_prefix") != 0, config.GetString("port.prefix"));
  SerialPort port;
  if (port.Open(path).code != kErrNone) return false;
  port.SetTimeouts(PortTimeouts{kProbeTimeoutMs, kProbeTimeoutMs, kProbeTimeoutMs, kProbeTimeoutMs, kProbeTimeoutMs});
  bool answered = !entry.settingsValid || port.Configure(entry.settings).code == kErrNone;
  answered = answered && Exchange(port, config.GetString("modem.init") + "\r\n") &&
             Exchange(port, "AT+CSMS=?\r\n");
  port.Close(true);
  return answered;
}

std::vector<PortEntry> DetectModems(const std::vector<PortEntry>& entries, const ConfigStore& config) {
  std::vector<PortEntry> found;
  for (const PortEntry& entry : entries) {
    if (ProbePort(entry, config)) found.push_back(entry);
  }
  return found;
}

}  // namespace qm
