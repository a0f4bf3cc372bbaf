#include "tests/support/private_bus.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace qm::test {
namespace {

// Waits for `pid` at most `limit`; kills it after that. The exit code, or -1.
int WaitOrKill(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

PrivateBus::PrivateBus() {
  const std::string addressFile = dir_.File("bus.addr");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int out = ::open(addressFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || ::dup2(out, 3) < 0) ::_exit(127);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=3",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 500 && address_.empty(); ++i) {
    const std::string text = ReadFile(addressFile);
    if (const auto end = text.find('\n'); end != std::string::npos) address_ = text.substr(0, end);
    if (address_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (address_.empty()) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    throw std::runtime_error("dbus-daemon did not start");
  }
  env_ = std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", address_);
}

PrivateBus::~PrivateBus() {
  env_.reset();
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    WaitOrKill(pid_, std::chrono::seconds(5));
  }
}

ScriptResult RunPythonDbus(const std::string& script, std::chrono::milliseconds limit) {
  TempDir dir;
  WriteFile(dir.File("client.py"), "import dbus\nbus = dbus.SessionBus()\n" + script + "\n");
  const std::string outputFile = dir.File("output");
  const pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0) ::_exit(127);
    ::dup2(out, 1);
    ::dup2(out, 2);
    const std::string path = dir.File("client.py");
    ::execl("/usr/bin/python3", "python3", path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ScriptResult result;
  result.exitCode = WaitOrKill(pid, limit);
  result.output = ReadFile(outputFile);
  return result;
}

}  // namespace qm::test
