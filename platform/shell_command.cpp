#include "platform/shell_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/errors.h"
#include "platform/event_fd.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

// How long a killed process group gets to end on SIGTERM before SIGKILL.
constexpr auto kKillGrace = std::chrono::seconds(1);
// Without a pidfd (an old kernel) the end of the shell is looked for this often.
constexpr auto kEndPollInterval = std::chrono::milliseconds(10);

std::string ErrnoText(int err) { return SysErrorFromErrno(err).text; }

bool IsShellName(std::string_view name) {
  auto letter = [](char c) { return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return !name.empty() && letter(name[0]) &&
         std::all_of(name.begin(), name.end(), [&](char c) { return letter(c) || digit(c); });
}

// The child's environment: ours, with the command's variables added or replacing ours.
class ChildEnvironment {
 public:
  // Empty on success, else why the variables cannot be passed.
  std::string Build(const ShellCommand& command) {
    const auto& added = command.environment;
    for (const auto& [name, value] : added) {
      if (!IsShellName(name)) return "invalid environment variable name \"" + name + "\"";
    }
    auto addedLater = [&](std::string_view name, std::size_t from) {
      return std::any_of(added.begin() + static_cast<std::ptrdiff_t>(from), added.end(),
                         [&](const auto& variable) { return variable.first == name; });
    };
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      if (!addedLater(text.substr(0, text.find('=')), 0)) entries_.emplace_back(text);
    }
    for (std::size_t i = 0; i < added.size(); ++i) {
      if (addedLater(added[i].first, i + 1)) continue;  // the last one given wins
      const std::string& value = added[i].second;
      entries_.push_back(added[i].first + "=" + value.substr(0, value.find('\0')));
    }
    for (auto& entry : entries_) pointers_.push_back(entry.data());
    pointers_.push_back(nullptr);
    return {};
  }

  char* const* get() const { return pointers_.data(); }

 private:
  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
};

class SpawnAttr {
 public:
  explicit SpawnAttr(short flags) {
    posix_spawnattr_init(&attr_);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr_, &none);
    // Ignored signals stay ignored across exec and the driver ignores some
    // (SIGPIPE, SIGHUP); scripts expect every signal at its default. The set
    // is filled by hand: sigfillset leaves out glibc's internal signals, which
    // posix_spawn would then leave ignored in the script.
    sigset_t all;
    std::memset(&all, 0xFF, sizeof all);
    posix_spawnattr_setsigdefault(&attr_, &all);
    posix_spawnattr_setflags(&attr_, static_cast<short>(flags | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
  }
  ~SpawnAttr() { posix_spawnattr_destroy(&attr_); }
  SpawnAttr(const SpawnAttr&) = delete;
  SpawnAttr& operator=(const SpawnAttr&) = delete;

  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

// File actions for the child; the first failure to record one is kept and
// reported by the spawn.
class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;

  void ChangeDirectory(const std::string& path) {
    if (!path.empty()) Keep(posix_spawn_file_actions_addchdir_np(&actions_, path.c_str()));
  }
  void Open(int fd, const char* path, int flags) {
    Keep(posix_spawn_file_actions_addopen(&actions_, fd, path, flags, 0));
  }
  void Dup2(int fd, int target) { Keep(posix_spawn_file_actions_adddup2(&actions_, fd, target)); }

  const posix_spawn_file_actions_t* get() const { return &actions_; }
  int error() const { return error_; }

 private:
  void Keep(int rc) {
    if (error_ == 0) error_ = rc;
  }

  posix_spawn_file_actions_t actions_;
  int error_ = 0;
};

// Starts /bin/sh with `args`: the pid, or -1 with `error` set.
pid_t SpawnShell(std::vector<std::string> args, const FileActions& actions, const SpawnAttr& attr,
                 const ChildEnvironment& environment, std::string& error) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = actions.error();
  if (rc == 0) rc = posix_spawn(&pid, "/bin/sh", actions.get(), attr.get(), argv.data(), environment.get());
  if (rc == 0) return pid;
  error = ErrnoText(rc);
  return -1;
}

// An anonymous file for the output: created under a fresh name (never an
// existing file or a planted symlink) and unlinked at once, so that nothing
// stays behind whatever becomes of the script.
UniqueFd CreateOutputFile(std::string& error) {
  const char* folder = std::getenv("TMPDIR");
  std::string path = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/qm-shell-XXXXXX";
  UniqueFd fd(::mkostemp(path.data(), O_CLOEXEC));
  if (!fd) {
    error = "cannot create a temporary file (" + path + "): " + ErrnoText(errno);
    return fd;
  }
  ::unlink(path.c_str());
  return fd;
}

// From the start, whatever background jobs still write (pread leaves the
// offset they share alone).
std::string ReadOutput(int fd) {
  std::string output;
  constexpr std::size_t kChunk = 64 * 1024;
  while (output.size() < kMaxShellOutput) {
    const std::size_t had = output.size();
    output.resize(had + std::min(kChunk, kMaxShellOutput - had));
    const ssize_t n = ::pread(fd, output.data() + had, output.size() - had, static_cast<off_t>(had));
    output.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
  }
  return output;
}

Clock::time_point DeadlineAfter(std::chrono::milliseconds timeout) {
  const auto now = Clock::now();
  if (timeout <= std::chrono::milliseconds::zero()) return now;
  const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
  return timeout >= room ? Clock::time_point::max() : now + timeout;
}

enum class WaitEnd { kEnded, kStopped, kTimedOut };

// The started shell. It is reaped only at the very end: until then its pid,
// and so the id of its process group, cannot be reused, and signalling the
// group can never reach strangers.
class ShellChild {
 public:
  explicit ShellChild(pid_t pid) : pid_(pid), pidfd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
  ~ShellChild() {
    if (pid_ < 0) return;
    KillGroup();
    Reap();
  }
  ShellChild(const ShellChild&) = delete;
  ShellChild& operator=(const ShellChild&) = delete;

  // Waits until the shell ends, the deadline passes or `stop` is requested
  // (`wake` becomes readable then; -1 for none).
  WaitEnd Wait(Clock::time_point deadline, const std::stop_token& stop, int wake) const {
    for (;;) {
      if (Ended()) return WaitEnd::kEnded;
      if (stop.stop_requested()) return WaitEnd::kStopped;
      const auto now = Clock::now();
      if (now >= deadline) return WaitEnd::kTimedOut;
      auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
      if (!pidfd_) wait = std::min<std::chrono::milliseconds>(wait, kEndPollInterval);
      pollfd fds[2] = {{pidfd_.get(), POLLIN, 0}, {wake, POLLIN, 0}};
      ::poll(fds, 2, static_cast<int>(std::min<std::chrono::milliseconds::rep>(wait.count(), INT_MAX)));
    }
  }

  // Ends the shell and everything it started: SIGTERM first, SIGKILL for
  // whatever is left after the grace.
  void KillGroup() const {
    ::kill(-pid_, SIGTERM);
    ::kill(-pid_, SIGCONT);  // a stopped process would not see the SIGTERM
    Wait(Clock::now() + kKillGrace, std::stop_token{}, -1);
    ::kill(-pid_, SIGKILL);
  }

  // Collects the ended shell: its exit code, 128 + the signal that ended it,
  // or -1 when it cannot be known.
  int Reap() {
    int status = 0;
    pid_t reaped = -1;
    do {
      reaped = ::waitpid(pid_, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    pid_ = -1;
    if (reaped < 0) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
  }

 private:
  // True once the shell has ended; it stays a zombie until Reap.
  bool Ended() const {
    for (;;) {
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
        return info.si_pid == pid_;
      }
      if (errno != EINTR) return true;  // not a child of ours: nothing to wait for
    }
  }

  pid_t pid_;
  UniqueFd pidfd_;
};

}  // namespace

ShellResult RunShellCommand(const ShellCommand& command, std::chrono::milliseconds timeout, std::stop_token stop) {
  ShellResult result;
  if (stop.stop_requested()) {
    result.outcome = ShellOutcome::kStopped;
    return result;
  }
  ChildEnvironment environment;
  result.error = environment.Build(command);
  if (!result.error.empty()) return result;
  const UniqueFd output = CreateOutputFile(result.error);
  if (!output) return result;

  FileActions actions;
  actions.ChangeDirectory(command.workingDirectory);
  actions.Open(STDIN_FILENO, "/dev/null", O_RDONLY);
  actions.Dup2(output.get(), STDOUT_FILENO);
  actions.Dup2(output.get(), STDERR_FILENO);
  // Its own process group, so that a time-out ends whatever the script started.
  const SpawnAttr attr(POSIX_SPAWN_SETPGROUP);
  const pid_t pid = SpawnShell({"sh", "-c", command.script}, actions, attr, environment, result.error);
  if (pid < 0) return result;

  ShellChild child(pid);
  const EventFd wake;
  const std::stop_callback onStop(stop, [&wake] { wake.Signal(); });
  const WaitEnd end = child.Wait(DeadlineAfter(timeout), stop, wake.fd());
  if (end != WaitEnd::kEnded) child.KillGroup();
  const int exitStatus = child.Reap();
  switch (end) {
    case WaitEnd::kEnded:
      result.outcome = ShellOutcome::kFinished;
      result.exitStatus = exitStatus;
      break;
    case WaitEnd::kTimedOut:
      result.outcome = ShellOutcome::kTimedOut;
      break;
    case WaitEnd::kStopped:
      result.outcome = ShellOutcome::kStopped;
      break;
  }
  result.output = ReadOutput(output.get());
  return result;
}

std::string StartShellCommand(const ShellCommand& command) {
  ChildEnvironment environment;
  if (std::string error = environment.Build(command); !error.empty()) return error;
  FileActions actions;
  actions.ChangeDirectory(command.workingDirectory);
  actions.Open(STDIN_FILENO, "/dev/null", O_RDONLY);
  actions.Open(STDOUT_FILENO, "/dev/null", O_WRONLY);
  actions.Dup2(STDOUT_FILENO, STDERR_FILENO);
  // A short-lived shell in a new session starts the script in the background
  // and exits at once; reaping it leaves the script to init, never a zombie
  // of ours. The script travels as a positional parameter and is parsed once.
  const SpawnAttr attr(POSIX_SPAWN_SETSID);
  std::string error;
  const pid_t pid = SpawnShell({"sh", "-c", "/bin/sh -c \"$1\" &", "sh", command.script}, actions, attr,
                               environment, error);
  if (pid < 0) return error;
  const int exitStatus = ShellChild(pid).Reap();
  if (exitStatus != 0) return "the shell could not start the command (exit status " + std::to_string(exitStatus) + ")";
  return {};
}

}  // namespace qm
