#include "platform/autostart.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>

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

bool WriteEntry(const std::string& folder, const std::string& fileName, const std::string& text) {
  return WriteFileAtomically(folder + "/" + fileName, text, 0644);
}

// An entry with "Hidden=true" counts as deleted.
bool IsHidden(const std::string& path) {
  const auto text = ReadWholeFile(path);
  if (!text) return false;
  std::size_t start = 0;
  while (start < text->size()) {
    std::size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string_view line(text->data() + start, end - start);
    start = end + 1;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || TrimBlanks(line.substr(0, eq)) != "Hidden") continue;
    return EqualsIgnoreCase(TrimBlanks(line.substr(eq + 1)), "true");
  }
  return false;
}

// True when one of the folder's entries of that name is there and not hidden;
// nullopt when the folder has none.
std::optional<bool> EnabledIn(const std::string& folder, const std::string& appName) {
  const std::vector<std::string> names = MatchingEntries(folder, appName);
  if (names.empty()) return std::nullopt;
  for (const std::string& name : names) {
    if (!IsHidden(folder + "/" + name)) return true;
  }
  return false;
}

void RemoveEntries(const std::string& folder, const std::string& appName) {
  for (const std::string& name : MatchingEntries(folder, appName)) ::unlink((folder + "/" + name).c_str());
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
  // The user's entry of a name overrides the machine's.
  if (const auto user = EnabledIn(AutostartUserFolder(), appName)) return *user;
  return EnabledIn(AutostartMachineFolder(), appName).value_or(false);
}

bool AutostartEnable(const AutostartEntry& entry) {
  const std::string text = MakeAutostartText(entry);
  const std::string fileName = entry.appName + std::string(kSuffix);
  const std::string machine = AutostartMachineFolder();
  const std::string user = AutostartUserFolder();
  // A user entry (a "Hidden" override among them) would override the new one.
  RemoveEntries(user, entry.appName);
  if (::access(machine.c_str(), W_OK | X_OK) == 0 && WriteEntry(machine, fileName, text)) return true;
  return MakeDirectories(user, 0700) && WriteEntry(user, fileName, text);
}

void AutostartDisable(const std::string& appName) {
  const std::string machine = AutostartMachineFolder();
  const std::string user = AutostartUserFolder();
  RemoveEntries(user, appName);
  for (const std::string& name : MatchingEntries(machine, appName)) {
    if (::unlink((machine + "/" + name).c_str()) == 0 || errno == ENOENT) continue;
    // An entry for every user that this user may not remove is switched off
    // for this user alone, as the desktop does it.
    if (MakeDirectories(user, 0700)) {
      WriteEntry(user, name, "[Desktop Entry]\nType=Application\nName=" + EscapeValue(appName) + "\nHidden=true\n");
    }
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
