// "--help"/"-h" and "--version"/"-V", the switches a newcomer tries first.
// They print and end the process before anything starts: no lock, no
// configuration, no log, no modem.
//
// Pure functions; any thread.
#pragma once

#include <string>

namespace qm {

enum class InformationSwitch {
  kNone,
  kHelp,
  kVersion,
};

// The first information switch among the arguments after the program.
InformationSwitch FindInformationSwitch(int argc, const char* const* argv);

// What the switch prints (on standard output, exit status 0).
std::string InformationText(InformationSwitch which);

}  // namespace qm
