#include "app/information_switches.h"

#include <string_view>

namespace qm {

InformationSwitch FindInformationSwitch(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
    if (arg == "--help" || arg == "-h" || arg == "-?") return InformationSwitch::kHelp;
    if (arg == "--version" || arg == "-V") return InformationSwitch::kVersion;
  }
  return InformationSwitch::kNone;
}

std::string InformationText(InformationSwitch which) {
  if (which == InformationSwitch::kVersion) return "qmdriver " QM_VERSION "\n";
  if (which != InformationSwitch::kHelp) return {};
  return "Usage: qmdriver [switch...]\n"
         "Drives one GSM modem (or the built-in emulator) and shares it with the\n"
         "programs of this machine: sending, receiving, delivery reports, USSD.\n"
         "\n"
         "  -noicon          run in this session without a tray icon\n"
         "  -service         run as a service, on the service's configuration and files\n"
         "  -cfgservice      run in this session on the service's configuration and files\n"
         "  -instN           instance N (1..9999): its own configuration, tables, log and\n"
         "                   bus name, beside the others\n"
         "  -instservice     write the systemd unit that runs this instance as a service\n"
         "  -uninstservice   remove that unit\n"
         "  -RegServer       install the D-Bus activation and interface files, and exit\n"
         "  -UnregServer     remove them, and exit (also -unreg)\n"
         "  -init            as -RegServer, then save the configuration (the stored one,\n"
         "                   else the template) into the key store, and exit\n"
         "  -viewauthor      show the program's notice, and exit\n"
         "  -h, --help       this text\n"
         "  -V, --version    the version\n"
         "\n"
         "A switch may start with \"-\" or \"/\" and ignores letter case.\n"
         "\n"
         "The first start copies the template qmdriver.cfg (from the current folder,\n"
         "else from the installed share/qmdriver folder) into the key store, which wins\n"
         "from then on. Tables, log and status file are in ~/.config/Quillmoor SMS/\n"
         "(the service's in its own folder). \"qmctl status\" asks a running driver how\n"
         "it is; Ctrl+C or SIGTERM stops it.\n";
}

}  // namespace qm
