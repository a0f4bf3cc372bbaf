#include "app/port_wizard.h"

#include <cctype>

#include "base/config_store.h"
#include "modem/modem_probe.h"
#include "platform/serial_enum.h"
#include "platform/utf.h"

namespace qm {
namespace {

constexpr int kMaxAttempts = 3;

bool AllDigits(const std::string& text) {
  for (unsigned char c : text) {
    if (!std::isdigit(c)) return false;
  }
  return !text.empty();
}

bool HasControlOrBlank(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == ' ') return true;
  }
  return false;
}

PortWizardResult Store(ConfigStore& config, const std::string& port, std::ostream& out) {
  config.SetString("modem.port", port);
  config.SetInt("modem.emulation", 0);
  out << "The modem port is now " << port << ".\n";
  return {true, "Modem port set to " + port + " by the port wizard"};
}

}  // namespace

PortWizardResult RunPortWizard(ConfigStore& config, const DetectModemsFunction& detect, std::istream& in,
                               std::ostream& out, bool interactive) {
  if (!interactive) {
    return {false,
            "The modem port is not set: set \"modem.port\" in the configuration, "
            "or start qmdriver in a terminal to choose one"};
  }
  out << "The modem port is not set. ";
  return ChoosePort(config, detect, in, out);
}

std::vector<PortWizardEntry> DetectAttachedModems(const ConfigStore& config) {
  std::vector<PortWizardEntry> found;
  for (const PortEntry& entry : DetectModems(EnumeratePorts(true), config)) {
    found.push_back(PortWizardEntry{entry.friendlyName, entry.portName});
  }
  return found;
}

PortWizardResult ChoosePort(ConfigStore& config, const DetectModemsFunction& detect, std::istream& in,
                            std::ostream& out) {
  out << "Looking for modems...\n";
  const std::vector<PortWizardEntry> modems = detect ? detect() : std::vector<PortWizardEntry>{};
  if (modems.empty()) {
    out << "No modem was found.\n";
  } else {
    for (std::size_t i = 0; i < modems.size(); ++i) {
      const PortWizardEntry& m = modems[i];
      out << "  " << (i + 1) << "  ";
      if (m.friendlyName.empty()) {
        out << m.portName << "\n";
      } else {
        out << m.friendlyName << " (" << m.portName << ")\n";
      }
    }
  }
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    out << (modems.empty() ? "Type" : "Choose a modem by its number, or type")
        << " a port name (for example ttyUSB0); an empty line leaves the port unset: " << std::flush;
    std::string line;
    if (!std::getline(in, line)) break;
    line = std::string(TrimBlanks(line));
    if (line.empty()) break;
    if (AllDigits(line) && !modems.empty()) {
      const std::size_t choice = line.size() > 6 ? 0 : std::stoul(line);
      if (choice >= 1 && choice <= modems.size()) return Store(config, modems[choice - 1].portName, out);
      out << "There is no modem number " << line << ".\n";
      continue;
    }
    if (HasControlOrBlank(line)) {
      out << "A port name has no blanks or control characters.\n";
      continue;
    }
    return Store(config, line, out);
  }
  out << "The modem port stays unset.\n";
  return {false, "The modem port is not set: no port was chosen in the port wizard"};
}

}  // namespace qm
