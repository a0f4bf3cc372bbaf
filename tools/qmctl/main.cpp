// qmctl: the command-line client of the GSM driver and its offline tools.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qmctl/arguments.h"
#include "tools/qmctl/command_failure.h"
#include "tools/qmctl/commands.h"
#include "tools/qmctl/pdu_command.h"

namespace {

constexpr char kUsage[] =
    "Usage: qmctl [--instance N] [--system] [--json] COMMAND [ARGS...]\n"
    "\n"
    "Commands for a running driver:\n"
    "  status                       connection status, modem, signal, features,\n"
    "                               outbox size and error counter\n"
    "  send --to N --text T         queue a message (--flash, --report, --url U,\n"
    "                               --wait [--delivery] [--timeout S])\n"
    "  send --file LIST             queue a message to every number of a list\n"
    "  ussd CODE [--timeout S]      send a USSD request and print the reply\n"
    "  at CMD                       queue a raw AT command\n"
    "  memory read|clear|remove N   the messages stored in the modem\n"
    "  watch                        print events as they happen\n"
    "  connect, disconnect          connect or disconnect the modem\n"
    "  config list|get|set|port     read or change the settings (also with the\n"
    "                               driver stopped), choose the modem port\n"
    "Offline tools:\n"
    "  pdu                          encode and decode SMS PDUs (qmctl pdu --help)\n"
    "  help, version\n"
    "\n"
    "Options (before or after the command):\n"
    "  --instance N   the driver started with -inst<N> (default 0)\n"
    "  --system       the driver running as a service (on the system bus)\n"
    "  --json         print one JSON object per line\n"
    "\"qmctl COMMAND --help\" tells more about a command.\n"
    "\n"
    "Exit status: 0 success, 1 the driver refused or a message failed, 2 wrong\n"
    "usage, 3 no driver running or the bus cannot be reached, 4 time-out.\n";

int Dispatch(std::string_view command, const qm::CommandArgs& rest) {
  if (command == "status") return qm::RunStatus(rest);
  if (command == "send") return qm::RunSend(rest);
  if (command == "ussd") return qm::RunUssd(rest);
  if (command == "at") return qm::RunAt(rest);
  if (command == "memory") return qm::RunMemory(rest);
  if (command == "watch") return qm::RunWatch(rest);
  if (command == "connect") return qm::RunConnect(rest, true);
  if (command == "disconnect") return qm::RunConnect(rest, false);
  if (command == "config") return qm::RunConfig(rest);
  return qm::UsageError("unknown command '" + std::string(command) + "'", kUsage);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const std::size_t at = qm::FindCommand(args, error);
  if (!error.empty()) return qm::UsageError(error, kUsage);
  if (at == args.size()) return qm::UsageError("no command given", kUsage);
  const std::string& command = args[at];
  if (command == "help" || command == "--help" || command == "-h") return qm::ShowUsage(kUsage);
  if (command == "version" || command == "--version") {
    std::printf("qmctl %s\n", QM_VERSION);
    return 0;
  }
  if (command == "pdu") {
    return qm::RunPduCommand(std::vector<std::string>(args.begin() + at + 1, args.end()), stdin, stdout, stderr);
  }
  // The command's own arguments, with the global options given before it.
  std::vector<std::string> rest(args.begin(), args.begin() + at);
  rest.insert(rest.end(), args.begin() + at + 1, args.end());
  try {
    return Dispatch(command, rest);
  } catch (const qm::CommandFailure& failure) {
    std::fprintf(stderr, "qmctl: %s\n", failure.what());
    return qm::ToInt(failure.code());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qmctl: %s\n", e.what());
    return qm::ToInt(qm::ExitCode::kRefused);
  }
}
