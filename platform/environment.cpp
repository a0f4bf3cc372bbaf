#include "platform/environment.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/utf.h"

extern char** environ;

namespace qm {
namespace {

std::optional<std::string> Env(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr) return std::nullopt;
  return std::string(v);
}

std::optional<std::string> EnvNonEmpty(const char* name) {
  auto v = Env(name);
  if (v && v->empty()) return std::nullopt;
  return v;
}

}  // namespace

std::string HomeDir() {
  if (auto h = EnvNonEmpty("HOME")) return *h;
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir) {
    return result->pw_dir;
  }
  return "/";
}

std::string ConfigHome() {
  if (auto v = EnvNonEmpty("XDG_CONFIG_HOME")) return *v;
  return HomeDir() + "/.config";
}

std::string DataHome() {
  if (auto v = EnvNonEmpty("XDG_DATA_HOME")) return *v;
  return HomeDir() + "/.local/share";
}

std::string ServiceHome() {
  if (auto v = EnvNonEmpty("QMDRIVER_SERVICE_HOME")) return *v;
  return "/var/lib/qmdriver";
}

std::string TempDir() {
  if (auto v = EnvNonEmpty("TMPDIR")) return *v;
  return "/tmp";
}

std::string RuntimeDir() {
  if (auto v = EnvNonEmpty("XDG_RUNTIME_DIR")) {
    if (access(v->c_str(), W_OK | X_OK) == 0) return *v;
  }
  return TempDir();
}

std::string ExecutablePath() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string CurrentFolder() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : std::string(".");
}

bool BecomeOwnerOf(const std::string& folder, std::string& why) {
  struct stat st {};
  if (::geteuid() != 0 || ::stat(folder.c_str(), &st) != 0 || st.st_uid == 0) return true;
  const passwd* user = ::getpwuid(st.st_uid);
  // Groups first: once the user id changes, they can no longer be set.
  const bool switched = (user != nullptr ? ::initgroups(user->pw_name, user->pw_gid) == 0
                                         : ::setgroups(0, nullptr) == 0) &&
                        ::setgid(user != nullptr ? user->pw_gid : st.st_gid) == 0 && ::setuid(st.st_uid) == 0;
  if (!switched) why = "cannot become the owner of " + folder + ": " + std::strerror(errno);
  return switched;
}

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

std::optional<std::string> LookupVariable(std::string_view name) {
  if (name.empty()) return std::nullopt;
  const std::string key(name);
  if (auto v = Env(key.c_str())) return v;
  const std::string lower = AsciiLowerCopy(name);
  if (lower == "appdata" || lower == "localappdata") return ConfigHome();
  if (lower == "temp" || lower == "tmp") return TempDir();
  if (lower == "userprofile") return HomeDir();
  if (lower == "comspec") return std::string("/bin/sh");
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq == nullptr) continue;
    if (EqualsIgnoreCase(std::string_view(*e, static_cast<std::size_t>(eq - *e)), name)) {
      return std::string(eq + 1);
    }
  }
  return std::nullopt;
}

}  // namespace qm
