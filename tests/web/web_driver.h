// qmdriver with its web server on a free loopback port, in a sandbox, and an
// HTTP client that speaks to it as a script or the console would.
#pragma once

#include <httplib.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/driver_process.h"

namespace qm::test {

// A port nothing listens on right now.
int FreeLoopbackPort();

class WebDriver {
 public:
  // Starts the driver with "http.listen" on a free port (unless `settings`
  // names one) and waits until its modem is ready and its server listens.
  explicit WebDriver(std::map<std::string, std::string> settings = {}, std::vector<std::string> args = {"-noicon"});

  DriverSandbox& Box() { return *box_; }
  DriverProcess& Process() { return *process_; }
  const std::string& Token() const { return token_; }
  int Port() const { return port_; }
  std::string Log() const;

  // A client with the token as a bearer token (`authorised`) or without.
  std::unique_ptr<httplib::Client> Client(bool authorised = true) const;
  // The answer's body as JSON (null when it is not JSON).
  static nlohmann::json Json(const httplib::Result& result);
  nlohmann::json Get(const std::string& path) const;
  httplib::Result Post(const std::string& path, const std::string& body) const;

  // Polls `check` until it holds, at most `limit`.
  static bool WaitUntil(const std::function<bool()>& check, std::chrono::milliseconds limit);

 private:
  std::unique_ptr<DriverSandbox> box_;
  std::unique_ptr<DriverProcess> process_;
  int port_ = 0;
  std::string token_;
};

}  // namespace qm::test
