// First run without a modem port: a short dialogue on the terminal.
//
// In tray mode with an empty "modem.port" the driver lists the modems it can
// find and lets the user pick one by number or type a port name; the choice
// goes to "modem.port" with "modem.emulation" 0. Without a terminal on
// standard input nothing is asked and the result carries a message for the
// log and standard error instead.
//
// Called on the main thread before the driver's threads start. The caller
// saves the configuration when `stored` is set.
#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace qm {

class ConfigStore;

// A port offered by the dialogue.
struct PortWizardEntry {
  std::string friendlyName;  // "Huawei E3372", or empty
  std::string portName;      // "ttyUSB0" or "/dev/ttyACM0"
};

// Finds the modems attached to the machine (may take a few seconds).
using DetectModemsFunction = std::function<std::vector<PortWizardEntry>()>;

struct PortWizardResult {
  bool stored = false;  // "modem.port" was set
  std::string message;  // what happened, for the log
};

// The modems that answer on the machine's serial ports, probed with the
// configuration's line settings. Ports another program holds are skipped.
std::vector<PortWizardEntry> DetectAttachedModems(const ConfigStore& config);

// Lists the modems `detect` finds and asks for one by number or a port
// name; the choice goes to the configuration. Needs a terminal on `in`.
PortWizardResult ChoosePort(ConfigStore& config, const DetectModemsFunction& detect, std::istream& in,
                            std::ostream& out);

// The first-run dialogue: says the port is not set, then ChoosePort.
PortWizardResult RunPortWizard(ConfigStore& config, const DetectModemsFunction& detect, std::istream& in,
                               std::ostream& out, bool interactive);

}  // namespace qm
