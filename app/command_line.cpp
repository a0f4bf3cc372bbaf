#include "app/command_line.h"

#include "base/config_store.h"
#include "platform/utf.h"

namespace qm {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string TrimPiece(std::string_view piece) {
  std::size_t begin = 0;
  std::size_t end = piece.size();
  while (begin < end && IsBlank(piece[begin])) ++begin;
  while (end > begin && IsBlank(piece[end - 1])) --end;
  piece = piece.substr(begin, end - begin);
  if (piece.size() >= 2 && piece.front() == '"' && piece.back() == '"') {
    piece = piece.substr(1, piece.size() - 2);
  }
  return std::string(piece);
}

// Switches that end parsing and make the process exit after their action.
struct ExitSwitchName {
  std::string_view name;
  ExitSwitch value;
};
constexpr ExitSwitchName kExitSwitches[] = {
    {"RegServer", ExitSwitch::kRegServer}, {"UnregServer", ExitSwitch::kUnregServer},
    {"unreg", ExitSwitch::kUnreg},         {"init", ExitSwitch::kInit},
    {"viewauthor", ExitSwitch::kViewAuthor},
};

// Applies one switch; returns false when it ends parsing.
bool ApplySwitch(std::string_view name, StartupOptions& options) {
  for (const auto& [switchName, value] : kExitSwitches) {
    if (EqualsIgnoreCase(name, switchName)) {
      options.exitSwitch = value;
      return false;
    }
  }
  if (EqualsIgnoreCase(name, "noicon")) {
    options.noIcon = true;
  } else if (EqualsIgnoreCase(name, "service")) {
    options.service = true;
    options.serviceProfile = true;
  } else if (EqualsIgnoreCase(name, "cfgservice")) {
    options.cfgService = true;
    options.serviceProfile = true;
  } else if (EqualsIgnoreCase(name, "instservice")) {
    // Checked before the "inst" prefix, which it also starts with.
    options.install = true;
    return false;
  } else if (EqualsIgnoreCase(name, "uninstservice")) {
    options.uninstall = true;
    return false;
  } else if (name.substr(0, 4) == "inst") {
    const int32_t n = ConfigStore::ParseInt(name.substr(4));
    options.instance = (n < 0 || n > static_cast<int32_t>(kMaxInstance)) ? 0 : static_cast<unsigned>(n);
  }
  return true;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  bool quoted = false;
  for (std::size_t i = 0; i <= commandLine.size(); ++i) {
    const bool atEnd = i == commandLine.size();
    if (!atEnd && commandLine[i] == '"' && (i == 0 || commandLine[i - 1] != '\\')) {
      quoted = !quoted;
      continue;
    }
    if (atEnd || (commandLine[i] == ' ' && !quoted)) {
      if (i > start) {
        pieces.push_back(TrimPiece(commandLine.substr(start, i - start)));
      }
      start = i + 1;
    }
  }
  return pieces;
}

StartupOptions ParseCommandLine(std::string_view commandLine) {
  StartupOptions options;
  const std::vector<std::string> pieces = SplitCommandLine(commandLine);
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const std::string& piece = pieces[i];
    const auto mark = piece.find_first_of("-/");
    if (mark == std::string::npos) continue;
    if (!ApplySwitch(std::string_view(piece).substr(mark + 1), options)) break;
  }
  return options;
}

std::string JoinCommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& arg : argv) {
    if (!line.empty()) line += ' ';
    bool needsQuotes = arg.empty();
    for (char c : arg) needsQuotes = needsQuotes || IsBlank(c);
    if (needsQuotes) line += '"';
    for (char c : arg) {
      if (c == '"') line += '\\';
      line += c;
    }
    if (needsQuotes) line += '"';
  }
  return line;
}

std::string JoinCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  return JoinCommandLine(args);
}

}  // namespace qm
