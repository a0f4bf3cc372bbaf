#include "platform/shell_command.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/driver_process.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::FileExists;
using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;

// Whether a live process, or a live member of the process group, `id` is left
// (an orphan stays a zombie here, as PID 1 does not reap: dead all the same).
bool Alive(pid_t id) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream in(entry.path() / "stat");
    std::string text;
    if (!std::getline(in, text)) continue;
    pid_t pid = 0, parent = 0, group = 0;
    char state = '?';
    std::istringstream(text) >> pid;
    std::istringstream(text.substr(text.rfind(')') + 1)) >> state >> parent >> group;
    if (state != 'Z' && (pid == id || group == id)) return true;
  }
  return false;
}

// The process (and group) whose id the script wrote to `pidFile` is gone within 10 s.
bool GoneSoon(const std::string& pidFile) {
  const pid_t id = static_cast<pid_t>(std::atoi(ReadFile(pidFile).c_str()));
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (id <= 0 || Alive(id)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// A child of ours has ended unreaped (looked at, not reaped).
bool ZombieChild() {
  siginfo_t info{};
  return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

std::chrono::milliseconds Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

const std::string kNoSuchFile = std::strerror(ENOENT);

TEST(ShellCommand, ValuesReachTheScriptOnlyAsVariables) {
  TempDir dir;
  ScopedEnv inherited("QM_BODY", "from the driver");
  // The handler tests run every hostile text through here; this checks the
  // variable itself replaces the driver's own.
  const ShellResult result = RunShellCommand(
      {"printf '%s' \"${QM_BODY}\" > out; env | grep -c '^QM_BODY=' > count", dir.path(), {{"QM_BODY", "$(x)"}}}, 10s);
  ASSERT_EQ(result.outcome, ShellOutcome::kFinished);
  EXPECT_EQ(ReadFile(dir.File("out")), "$(x)");
  EXPECT_EQ(ReadFile(dir.File("count")), "1\n");
  // Cut at a NUL byte; of a name given twice, the last wins.
  const ShellCommand twice{"printf '%s|%s' \"$QM_A\" \"$QM_B\"", "",
                           {{"QM_A", std::string("cut\0here", 8)}, {"QM_B", "1"}, {"QM_B", "2"}}};
  EXPECT_EQ(RunShellCommand(twice, 10s).output, "cut|2");

  for (const std::string name : {"", "1A", "A-B", "A=B", "\xC3\x84"}) {
    const ShellCommand command{"touch ran", dir.path(), {{"QM_OK", "1"}, {name, "v"}}};
    const ShellResult result = RunShellCommand(command, 10s);
    EXPECT_EQ(result.outcome, ShellOutcome::kNotStarted) << name;
    EXPECT_NE(result.error.find("name"), std::string::npos) << result.error;
    EXPECT_NE(StartShellCommand(command), "") << name;
  }
  std::this_thread::sleep_for(200ms);  // a wrongly started detached script would have run by now
  EXPECT_FALSE(FileExists(dir.File("ran")));
}

TEST(ShellCommand, CapturesOutputAndExitStatusAndSaysWhyItCouldNotStart) {
  TempDir dir;
  TempDir tmp;
  ScopedEnv tmpdir("TMPDIR", tmp.path());
  // Both streams, in order; the output file has no name even while the script
  // runs; standard input is empty, not the driver's.
  ShellResult result = RunShellCommand({"echo out; echo err >&2; ls -A \"$TMPDIR\"; cat; exit 7", "", {}}, 10s);
  EXPECT_EQ(result.outcome, ShellOutcome::kFinished);
  EXPECT_EQ(result.exitStatus, 7);
  EXPECT_EQ(result.output, "out\nerr\n");
  EXPECT_EQ(RunShellCommand({"kill -TERM $$", "", {}}, 10s).exitStatus, 128 + SIGTERM);
  EXPECT_EQ(RunShellCommand({"head -c 3000000 /dev/zero", "", {}}, 10s).output, std::string(kMaxShellOutput, '\0'));

  // No trace of the driver's signal settings (an ignored SIGPIPE breaks
  // pipelines); a process group of its own.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old);
  result = RunShellCommand(
      {"grep -E '^Sig(Blk|Ign)' /proc/self/status; set -- $(cat /proc/$$/stat); [ $1 = $5 ] && echo leader", "", {}},
      10s);
  sigaction(SIGPIPE, &old, nullptr);
  EXPECT_EQ(result.output, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\nleader\n");

  std::vector<ShellResult> results(8);  // several at once, each with its own output
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < results.size(); ++i) {
      threads.emplace_back(
          [&, i] { results[i] = RunShellCommand({"sleep 0.2; echo " + std::to_string(i), "", {}}, 10s); });
    }
  }
  for (std::size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i].output, std::to_string(i) + "\n");

  // A missing working directory runs nothing anywhere else.
  result = RunShellCommand({"touch '" + dir.File("ran") + "'", dir.File("missing"), {}}, 10s);
  EXPECT_EQ(result.outcome, ShellOutcome::kNotStarted);
  EXPECT_EQ(result.error, kNoSuchFile);
  EXPECT_FALSE(FileExists(dir.File("ran")));
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

TEST(ShellCommand, TimeOutAndStopEndTheWholeGroupAndLeaveNoZombie) {
  TempDir dir;
  TempDir tmp;
  ScopedEnv tmpdir("TMPDIR", tmp.path());

  auto start = std::chrono::steady_clock::now();
  ShellResult result =
      RunShellCommand({"sleep 30 & echo $! > bg; echo $$ > sh; echo started; sleep 30", dir.path(), {}}, 500ms);
  EXPECT_EQ(result.outcome, ShellOutcome::kTimedOut);
  EXPECT_GE(Since(start), 500ms);
  EXPECT_LT(Since(start), 10s);
  EXPECT_EQ(result.output, "started\n");
  EXPECT_TRUE(GoneSoon(dir.File("bg")));
  EXPECT_TRUE(GoneSoon(dir.File("sh")));

  // What ignores SIGTERM goes all the same; a timeout of 0 does not wait.
  start = std::chrono::steady_clock::now();
  result = RunShellCommand({"trap '' TERM; sleep 30 & echo $$ > sh; sleep 30", dir.path(), {}}, 200ms);
  EXPECT_EQ(result.outcome, ShellOutcome::kTimedOut);
  EXPECT_TRUE(GoneSoon(dir.File("sh")));
  EXPECT_EQ(RunShellCommand({"sleep 30", "", {}}, 0ms).outcome, ShellOutcome::kTimedOut);
  EXPECT_LT(Since(start), 10s);

  // A stop ends the wait; one requested before the start runs nothing.
  std::stop_source source;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(300ms);
    source.request_stop();
  });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunShellCommand({"echo $$ > sh; sleep 30", dir.path(), {}}, 60s, source.get_token()).outcome,
            ShellOutcome::kStopped);
  EXPECT_LT(Since(start), 10s);
  EXPECT_TRUE(GoneSoon(dir.File("sh")));
  EXPECT_EQ(RunShellCommand({"touch ran", dir.path(), {}}, 10s, source.get_token()).outcome, ShellOutcome::kStopped);
  EXPECT_FALSE(FileExists(dir.File("ran")));

  EXPECT_FALSE(ZombieChild());
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

TEST(ShellStart, DetachedScriptRunsOnInItsOwnSessionAndLeavesNoZombie) {
  TempDir dir;
  const std::string script =
      "sleep 2; printf '%s' \"${QM_BODY}\" > body; fds=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2);"
      "echo \"$fds\" > fds; set -- $(cat /proc/$$/stat); echo \"$6\" > session; echo done > f";
  ASSERT_EQ(StartShellCommand({script, dir.path(), {{"QM_BODY", "$(touch pwned) `touch pwned`"}}}), "");
  EXPECT_FALSE(FileExists(dir.File("f")));
  ASSERT_TRUE(test::WaitForFileContaining(dir.File("f"), "done", 10s));
  EXPECT_EQ(ReadFile(dir.File("body")), "$(touch pwned) `touch pwned`");
  EXPECT_FALSE(FileExists(dir.File("pwned")));
  EXPECT_EQ(ReadFile(dir.File("fds")), "/dev/null\n/dev/null\n/dev/null\n");
  EXPECT_NE(ReadFile(dir.File("session")), std::to_string(::getsid(0)) + "\n");
  EXPECT_FALSE(ZombieChild());

  EXPECT_EQ(StartShellCommand({"touch '" + dir.File("ran") + "'", dir.File("missing"), {}}), kNoSuchFile);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(FileExists(dir.File("ran")));
}

}  // namespace
}  // namespace qm
