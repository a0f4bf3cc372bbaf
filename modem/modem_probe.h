// Synchronous modem detection for the connection wizard: is there a modem
// answering on this port?
//
// Any thread; each probe blocks for about a second per answering port (it
// waits for the modem to fall silent after each answer).
#pragma once

#include <vector>

#include "platform/serial_enum.h"

namespace qm {

class ConfigStore;

// Opens the port (the "port.use_prefix" rules apply), applies the entry's line
// settings when they are valid, and sends "modem.init" and "AT+CSMS=?". True
// when both got an answer without "ERROR". The port is closed again in every
// case.
bool ProbePort(const PortEntry& entry, const ConfigStore& config);

// The entries, in order, on which a modem answered.
std::vector<PortEntry> DetectModems(const std::vector<PortEntry>& entries, const ConfigStore& config);

}  // namespace qm
