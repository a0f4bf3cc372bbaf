// A private D-Bus session bus for one test, and python3-dbus scripts run
// against it as an independent automation client.
//
// While a PrivateBus lives, DBUS_SESSION_BUS_ADDRESS names it, so a driver
// started by the test (DriverProcess passes the environment on) and the
// scripts use it; the previous value comes back afterwards.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>

#include "tests/support/test_env.h"

namespace qm::test {

class PrivateBus {
 public:
  // Throws std::runtime_error when the daemon does not start.
  PrivateBus();
  ~PrivateBus();  // stops the daemon
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const std::string& Address() const { return address_; }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  std::string address_;
  std::unique_ptr<ScopedEnv> env_;
};

struct ScriptResult {
  int exitCode = -1;   // -1: it did not end within the limit (it was killed)
  std::string output;  // standard output and errors
};

// Runs `script` with /usr/bin/python3 (which has the dbus module). The script
// starts with `import dbus` and `bus = dbus.SessionBus()` already done.
ScriptResult RunPythonDbus(const std::string& script,
                           std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace qm::test
