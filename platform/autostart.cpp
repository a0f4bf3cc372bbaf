#include "platform/autostart.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "platform/environment.h"
#include "platform/file_util.h"
#include "platform/utf.h"

namespace qm {
namespace {

constexpr std::string_view kSuffix = ".desktop";

// The names in a folder that match "<appName>.desktop" ignoring case.
std::vector<std::string> MatchingEntries(const std::string& folder, const std::string& appName) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return names;
  const std::string wanted = appName + std::string(kSuffix);
  while (const dirent* e = ::readdir(dir.get())) {
    if (EqualsIgnoreCase(e->d_name, wanted)) names.emplace_back(e->d_name);
  }
  return names;
}

// The string-value escapes of the desktop-entry format.
std::string EscapeValue(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

bool WriteEntry(const std::string& folder, const std::string& appName, const std::string& text) {
  return WriteFileAtomically(folder + "/" + appName + std::string(kSuffix), text, 0644);
}

}  // namespace

std::string AutostartMachineFolder() {
  const char* v = std::getenv("QMDRIVER_XDG_AUTOSTART_DIR");
  return (v && *v) ? std::string(v) : std::string("/etc/xdg/autostart");
}

std::string AutostartUserFolder() { return ConfigHome() + "/autostart"; }

std::string QuoteExecArgument(const std::string& argument) {
  constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string out;
  const bool quote = argument.empty() || argument.find_first_of(kReserved) != std::string::npos;
  if (quote) out += '"';
  for (char c : argument) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
    if (c == '%') out += '%';  // a literal percent sign, not a field code
  }
  if (quote) out += '"';
  return out;
}

std::string MakeAutostartText(const AutostartEntry& entry) {
  std::string exec;
  for (std::size_t i = 0; i < entry.commandLine.size(); ++i) {
    std::string arg = entry.commandLine[i];
    if (i == 0 && (arg.empty() || arg.front() != '/')) {
      // The session starts entries from its own folder: the program needs its full path.
      const std::string self = ExecutablePath();
      if (!self.empty()) arg = self;
    }
    if (!exec.empty()) exec += ' ';
    exec += QuoteExecArgument(arg);
  }
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" + EscapeValue(entry.appName) + "\n"
         "Comment=Quillmoor GSM Modem Driver\n"
         "Exec=" + EscapeValue(exec) + "\n"
         "Path=" + EscapeValue(entry.programFolder) + "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartQuery(const std::string& appName) {
  return !MatchingEntries(AutostartMachineFolder(), appName).empty() ||
         !MatchingEntries(AutostartUserFolder(), appName).empty();
}

bool AutostartEnable(const AutostartEntry& entry) {
  const std::string text = MakeAutostartText(entry);
  const std::string machine = AutostartMachineFolder();
  if (::access(machine.c_str(), W_OK | X_OK) == 0 && WriteEntry(machine, entry.appName, text)) return true;
  const std::string user = AutostartUserFolder();
  return MakeDirectories(user, 0700) && WriteEntry(user, entry.appName, text);
}

void AutostartDisable(const std::string& appName) {
  for (const std::string& folder : {AutostartMachineFolder(), AutostartUserFolder()}) {
    for (const std::string& name : MatchingEntries(folder, appName)) ::unlink((folder + "/" + name).c_str());
  }
}

bool AutostartSet(const AutostartEntry& entry, bool wanted) {
  const bool present = AutostartQuery(entry.appName);
  if (wanted && !present) return AutostartEnable(entry);
  if (!wanted && present) {
    AutostartDisable(entry.appName);
    return !AutostartQuery(entry.appName);
  }
  return true;
}

}  // namespace qm
