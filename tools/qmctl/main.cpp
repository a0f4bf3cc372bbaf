// qmctl: the command-line client of the GSM driver and its offline tools.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qmctl/pdu_command.h"

namespace {

void PrintUsage(std::FILE* out) {
  std::fputs(
      "Usage: qmctl COMMAND [ARGS...]\n"
      "\n"
      "Commands:\n"
      "  help            show this text\n"
      "  version         show the version\n"
      "  pdu             encode and decode SMS PDUs offline (qmctl pdu --help)\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const std::string_view command = argv[1];
  if (command == "help" || command == "--help" || command == "-h") {
    PrintUsage(stdout);
    return 0;
  }
  if (command == "version" || command == "--version") {
    std::printf("qmctl %s\n", QM_VERSION);
    return 0;
  }
  if (command == "pdu") {
    return qm::RunPduCommand(std::vector<std::string>(argv + 2, argv + argc), stdin, stdout, stderr);
  }
  std::fprintf(stderr, "qmctl: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
