#include "tests/web/web_driver.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace qm::test {

using namespace std::chrono_literals;

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

WebDriver::WebDriver(std::map<std::string, std::string> settings, std::vector<std::string> args) {
  if (!settings.contains("http.listen")) {
    port_ = FreeLoopbackPort();
    settings["http.listen"] = "127.0.0.1:" + std::to_string(port_);
  }
  settings.emplace("status.time", "1");
  settings.emplace("sender.delay", "0");
  box_ = std::make_unique<DriverSandbox>(settings);
  process_ = std::make_unique<DriverProcess>(*box_, args);
  const std::string log = box_->UserFile("qmdriver.log");
  if (!WaitForFileContaining(box_->UserFile("qmdriver.status"), "state:ready") ||
      !WaitForFileContaining(log, "Web console: ", 10s)) {
    ADD_FAILURE() << "the driver did not start its web server:\n" << Log();
    return;
  }
  const std::string text = Log();
  const std::size_t start = text.find("?token=", text.find("Web console: ")) + 7;
  token_ = text.substr(start, 64);
}

std::string WebDriver::Log() const { return ReadFile(box_->UserFile("qmdriver.log")); }

std::unique_ptr<httplib::Client> WebDriver::Client(bool authorised) const {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", port_);
  client->set_connection_timeout(5s);
  client->set_read_timeout(60s);
  if (authorised) client->set_bearer_token_auth(token_.c_str());
  return client;
}

nlohmann::json WebDriver::Json(const httplib::Result& result) {
  if (!result) return nullptr;
  return nlohmann::json::parse(result->body, nullptr, false);
}

nlohmann::json WebDriver::Get(const std::string& path) const { return Json(Client()->Get(path.c_str())); }

httplib::Result WebDriver::Post(const std::string& path, const std::string& body) const {
  return Client()->Post(path.c_str(), body, "application/json");
}

bool WebDriver::WaitUntil(const std::function<bool()>& check, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!check()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

}  // namespace qm::test
