#include "tests/support/driver_process.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qm::test {

DriverSandbox::DriverSandbox(const std::map<std::string, std::string>& settings) {
  program_ = dir_.File("program");
  std::filesystem::create_directories(program_);
  std::filesystem::create_directories(dir_.File("run"));
  std::filesystem::create_directories(dir_.File("units"));
  std::filesystem::create_directories(dir_.File("xdg-autostart"));
  std::istringstream in(ReadFile(std::string(QM_SOURCE_DIR) + "/packaging/qmdriver.cfg"));
  std::string out;
  std::map<std::string, std::string> pending = settings;
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) {
      out += line + "\n";
      continue;
    }
    const auto it = pending.find(line.substr(0, eq));
    if (it == pending.end()) {
      out += line + "\n";
    } else {
      out += it->first + "=" + it->second + "\n";
      pending.erase(it);
    }
  }
  for (const auto& [key, value] : pending) out += key + "=" + value + "\n";
  WriteFile(program_ + "/qmdriver.cfg", out);
}

std::string DriverSandbox::UserFile(const std::string& name) const {
  return dir_.File("config/Quillmoor SMS/" + name);
}

std::vector<std::string> DriverSandbox::Environment() const {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    if (entry.rfind("XDG_", 0) == 0 || entry.rfind("HOME=", 0) == 0 || entry.rfind("QMDRIVER_", 0) == 0) continue;
    env.push_back(entry);
  }
  env.push_back("HOME=" + dir_.path());
  env.push_back("XDG_CONFIG_HOME=" + dir_.File("config"));
  env.push_back("XDG_RUNTIME_DIR=" + dir_.File("run"));
  env.push_back("QMDRIVER_SERVICE_HOME=" + dir_.File("service"));
  env.push_back("QMDRIVER_SYSTEMD_DIR=" + dir_.File("units"));
  env.push_back("QMDRIVER_XDG_AUTOSTART_DIR=" + dir_.File("xdg-autostart"));
  return env;
}

DriverProcess::DriverProcess(const DriverSandbox& sandbox, std::vector<std::string> args,
                             std::vector<std::string> unset, std::string program, std::string folder,
                             bool terminal) {
  std::vector<std::string> argv = {std::move(program)};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = sandbox.Environment();
  std::erase_if(env, [&](const std::string& entry) {
    return std::any_of(unset.begin(), unset.end(),
                       [&](const std::string& name) { return entry.rfind(name + "=", 0) == 0; });
  });
  std::vector<char*> cargv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  std::vector<char*> cenv;
  for (const auto& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);
  if (folder.empty()) folder = sandbox.ProgramFolder();
  static int started = 0;
  stderrPath_ = sandbox.Home() + "/driver-" + std::to_string(++started) + ".stderr";
  stdoutPath_ = sandbox.Home() + "/driver-" + std::to_string(started) + ".stdout";
  const int errFd = ::open(stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int outFd = ::open(stdoutPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::string terminalName;
  if (terminal) {
    terminal_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (terminal_ < 0 || ::grantpt(terminal_) != 0 || ::unlockpt(terminal_) != 0 ||
        ::ptsname_r(terminal_, name, sizeof name) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    terminalName = name;
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    // A test that dies leaves no driver behind to open recycled ptys.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (errFd >= 0) ::dup2(errFd, STDERR_FILENO);
    if (terminal) {
      const int slave = ::open(terminalName.c_str(), O_RDWR | O_NOCTTY);
      if (slave >= 0) ::dup2(slave, STDOUT_FILENO);
    } else if (outFd >= 0) {
      ::dup2(outFd, STDOUT_FILENO);
    }
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    ::execve(cargv[0], cargv.data(), cenv.data());
    ::_exit(127);
  }
  if (errFd >= 0) ::close(errFd);
  if (outFd >= 0) ::close(outFd);
}

std::string DriverProcess::Stderr() const { return ReadFile(stderrPath_); }

std::string DriverProcess::Stdout() const {
  if (terminal_ < 0) return ReadFile(stdoutPath_);
  char buf[4096];
  for (pollfd p{terminal_, POLLIN, 0}; ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;) {
    const ssize_t n = ::read(terminal_, buf, sizeof buf);
    if (n <= 0) break;
    terminalOutput_.append(buf, static_cast<std::size_t>(n));
  }
  return terminalOutput_;
}

DriverProcess::~DriverProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (terminal_ >= 0) ::close(terminal_);
}

void DriverProcess::Signal(int signal) const {
  if (pid_ > 0 && !reaped_) ::kill(pid_, signal);
}

std::optional<int> DriverProcess::WaitExit(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool WaitForFileContaining(const std::string& path, const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (ReadFile(path).find(text) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace qm::test
