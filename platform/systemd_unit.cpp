#include "platform/systemd_unit.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/environment.h"
#include "platform/errors.h"
#include "platform/file_util.h"

extern char** environ;

namespace qm {
namespace {

// Service-manager error numbers the log lines use.
constexpr int kErrServiceExists = 1073;
constexpr int kErrServiceDoesNotExist = 1060;

ServiceLogLine Failed(const std::string& call, int code) {
  return ServiceLogLine{LogLevel::kError, call + " failed, error code " + std::to_string(code)};
}

bool Redirected() {
  const char* v = std::getenv("QMDRIVER_SYSTEMD_DIR");
  return v != nullptr && *v != '\0';
}

bool FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    auto end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// systemctl is only worth calling on a machine that runs systemd, and never
// for a redirected unit folder.
bool CanUseSystemctl() {
  return !Redirected() && ::access("/run/systemd/system", F_OK) == 0 && FindOnPath("systemctl");
}

// Runs systemctl with the arguments and waits (bounded) for its exit status;
// -1 when it could not be started or did not finish.
int RunSystemctl(std::vector<std::string> args) {
  args.insert(args.begin(), "systemctl");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, "systemctl", &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Systemctl(ServiceResult& result, const std::vector<std::string>& args) {
  const int code = RunSystemctl(args);
  if (code != 0) result.log.push_back(Failed("systemctl " + args.front(), code));
}

// "%" starts a specifier in every unit setting.
std::string EscapeSpecifiers(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

// One double-quoted word of a command line: backslash escapes, and "$$" for a
// literal dollar (no variable expansion).
std::string QuoteExecWord(const std::string& word) {
  std::string out = "\"";
  for (char c : EscapeSpecifiers(word)) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '$') out += '$';
    out += c;
  }
  return out + "\"";
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

std::string UnitPath(const std::string& appName) { return SystemdUnitFolder() + "/" + appName + ".service"; }

// The folder must exist and be writable, as the service manager must be
// reachable with the rights to change it.
bool OpenUnitFolder(ServiceResult& result) {
  if (::access(SystemdUnitFolder().c_str(), W_OK | X_OK) != 0) {
    result.log.push_back(Failed("OpenSCManager", MapErrno(errno)));
    return false;
  }
  return true;
}

}  // namespace

std::string SystemdUnitFolder() {
  const char* v = std::getenv("QMDRIVER_SYSTEMD_DIR");
  return (v && *v) ? std::string(v) : std::string("/etc/systemd/system");
}

bool MakeServiceUnitText(const ServiceUnitRequest& request, const std::string& executable, std::string& text) {
  if (HasLineBreak(executable) || HasLineBreak(request.programFolder) || HasLineBreak(request.appName)) {
    return false;
  }
  std::string command = QuoteExecWord(executable) + " -service";
  if (request.instance > 0) command += " -inst" + std::to_string(request.instance);
  text = "[Unit]\n"
         "Description=" + EscapeSpecifiers(request.appName) + "\n"
         "After=network.target\n"
         "\n"
         "[Service]\n"
         "Type=simple\n"
         "ExecStart=" + command + "\n"
         "WorkingDirectory=" + EscapeSpecifiers(request.programFolder) + "\n"
         "Restart=on-failure\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
  return true;
}

ServiceResult InstallService(const ServiceUnitRequest& request) {
  ServiceResult result;
  if (!OpenUnitFolder(result)) return result;
  const std::string executable = request.executable.empty() ? ExecutablePath() : request.executable;
  std::string text;
  if (executable.empty() || executable.front() != '/' || !MakeServiceUnitText(request, executable, text)) {
    result.log.push_back(Failed("CreateService", kErrInvalidName));
    return result;
  }
  const std::string path = UnitPath(request.appName);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    result.log.push_back(Failed("CreateService", kErrServiceExists));
    return result;
  }
  SysError err;
  if (!WriteFileAtomically(path, text, 0644, &err)) {
    result.log.push_back(Failed("CreateService", err.code));
    return result;
  }
  result.ok = true;
  result.log.push_back({LogLevel::kDetail, "Service unit " + path + " written"});
  if (CanUseSystemctl()) {
    Systemctl(result, {"daemon-reload"});
    Systemctl(result, {"enable", request.appName + ".service"});
  } else if (!Redirected()) {
    result.log.push_back({LogLevel::kWarning, "systemd is not running: enable the service later with "
                             "\"systemctl enable " + request.appName + ".service\""});
  }
  return result;
}

ServiceResult UninstallService(const std::string& appName) {
  ServiceResult result;
  if (!OpenUnitFolder(result)) return result;
  const std::string path = UnitPath(appName);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    result.log.push_back(Failed("OpenService", errno == ENOENT ? kErrServiceDoesNotExist : MapErrno(errno)));
    return result;
  }
  const bool systemctl = CanUseSystemctl();
  // Disabling only removes the links; a running service keeps running.
  if (systemctl) Systemctl(result, {"disable", appName + ".service"});
  if (::unlink(path.c_str()) != 0) {
    result.log.push_back(Failed("DeleteService", MapErrno(errno)));
    return result;
  }
  SyncDirectory(SystemdUnitFolder());
  if (systemctl) Systemctl(result, {"daemon-reload"});
  result.ok = true;
  result.log.push_back({LogLevel::kDetail, "Service unit " + path + " removed"});
  return result;
}

}  // namespace qm
