// What a driver started in a terminal says once at start: which modem it
// drives, where its log, tables and status file are, and how to stop it. A
// start that prints nothing looks hung.
//
// Pure functions; any thread.
#pragma once

#include <string>

#include "base/config_store.h"

namespace qm {

struct FirstRunFacts {
  unsigned instance = 0;
  std::string modem;   // "the built-in emulator", "the modem on /dev/ttyUSB2", ...
  std::string log;     // the log file
  std::string tables;  // the folder of the inbox table
  std::string status;  // the status file (empty: none is written)
};

// The facts from the configuration of a session driver (not the service's).
FirstRunFacts GatherFirstRunFacts(const ConfigStore& config, unsigned instance, bool serviceProfile);

std::string FirstRunNotice(const FirstRunFacts& facts);

}  // namespace qm
