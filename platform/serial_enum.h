// The serial ports a modem may be attached to, for the connection wizard and
// the port list.
//
// Ports come from sysfs: every /sys/class/tty/ttyUSB*, ttyACM* and ttyS* entry
// that has a bound driver. The friendly name is the USB device's manufacturer
// and product (from sysfs), else the /dev/serial/by-id link name, else the
// port name. Any thread may enumerate.
#pragma once

#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace qm {

struct PortEntry {
  std::string friendlyName;
  std::string portName;  // the kernel name ("ttyUSB0"), opened as /dev/<name>
  std::string byIdPath;  // its stable /dev/serial/by-id link, when there is one
  bool settingsValid = false;  // Linux keeps no stored line settings per port
  LineSettings settings;       // 115200 baud, no parity, 8 data bits, one stop bit
};

// Where enumeration looks; tests point these at a fake tree.
struct PortEnumerationRoots {
  std::string sysClassTty = "/sys/class/tty";
  std::string serialById = "/dev/serial/by-id";
  std::string devDir = "/dev";
};

// The ports in name order (ttyACM0, ttyS2, ttyS10, ttyUSB0). With
// `availableOnly` a port is listed only when it can be opened exclusively now
// (it is closed again at once).
std::vector<PortEntry> EnumeratePorts(bool availableOnly, const PortEnumerationRoots& roots = {});

}  // namespace qm
