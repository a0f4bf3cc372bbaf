// Running qmdriver as a child process in a private sandbox, as a user would.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_env.h"

namespace qm::test {

// A private home: HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR, the service's
// folders and the unit/autostart folders all point inside it, and a program
// folder holds the template configuration with the given settings changed.
class DriverSandbox {
 public:
  explicit DriverSandbox(const std::map<std::string, std::string>& settings = {});

  const std::string& ProgramFolder() const { return program_; }
  std::string Home() const { return dir_.path(); }
  // ~/.config/Quillmoor SMS/<name>
  std::string UserFile(const std::string& name) const;
  // The environment a child gets.
  std::vector<std::string> Environment() const;

 private:
  TempDir dir_;
  std::string program_;
};

class DriverProcess {
 public:
  // `unset` names environment variables the child does not get; `program`
  // is the qmdriver to run (the one built with the tests by default), in
  // `folder` (the sandbox's program folder by default); with `terminal`
  // its standard output is a terminal, as when a user starts it by hand.
  DriverProcess(const DriverSandbox& sandbox, std::vector<std::string> args, std::vector<std::string> unset = {},
                std::string program = QM_QMDRIVER_PATH, std::string folder = {}, bool terminal = false);
  ~DriverProcess();  // kills a child that is still running
  DriverProcess(const DriverProcess&) = delete;
  DriverProcess& operator=(const DriverProcess&) = delete;

  pid_t pid() const { return pid_; }
  // What the child wrote to its standard error (start-up message boxes)
  // and to its standard output.
  std::string Stderr() const;
  std::string Stdout() const;
  void Signal(int signal) const;
  // The exit code, or nullopt when the child has not ended within `limit`
  // (-1 when a signal ended it).
  std::optional<int> WaitExit(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::string stderrPath_;
  std::string stdoutPath_;
  int terminal_ = -1;  // the master side of the child's terminal
  mutable std::string terminalOutput_;
};

// Waits (at most `limit`) until the file exists and contains `text`.
bool WaitForFileContaining(const std::string& path, const std::string& text,
                           std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace qm::test
