// What the commands share: usage errors, help, output lines.
#include <cstdio>

#include "tools/qmctl/commands.h"

namespace qm {

int UsageError(const std::string& problem, const char* usage) {
  std::fprintf(stderr, "qmctl: %s\n%s", problem.c_str(), usage);
  return 2;
}

int ShowUsage(const char* usage) {
  std::fputs(usage, stdout);
  return 0;
}

std::optional<Arguments> ParseCommand(const CommandArgs& args, const OptionSpec& spec, const char* usage, int& status) {
  Arguments parsed(args, spec);
  if (!parsed.error().empty()) {
    status = UsageError(parsed.error(), usage);
    return std::nullopt;
  }
  if (parsed.help()) {
    status = ShowUsage(usage);
    return std::nullopt;
  }
  return parsed;
}

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  // Lines reach a pipe as they happen (watch, progress of a long send).
  std::fflush(stdout);
}

}  // namespace qm
