// Where the web server listens, and when it refuses to: any address but
// loopback needs TLS; each instance has a port of its own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/test_env.h"
#include "tests/web/web_driver.h"
#include "web/listen_address.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::DriverProcess;
using test::DriverSandbox;
using test::WebDriver;

TEST(WebListen, TheSettingGivesTheAddressAndTheInstanceItsOwnPort) {
  const ListenAddress v4 = ParseListenAddress(" 127.0.0.1:8470 ", 3);
  EXPECT_TRUE(v4.enabled && v4.error.empty() && v4.loopback);
  EXPECT_EQ(HostAndPort(v4), "127.0.0.1:8473");
  const ListenAddress v6 = ParseListenAddress("[::1]:8470", 0);
  EXPECT_TRUE(v6.loopback);
  EXPECT_EQ(HostAndPort(v6), "[::1]:8470");
  EXPECT_FALSE(ParseListenAddress("0.0.0.0:8470", 0).loopback);
  EXPECT_FALSE(ParseListenAddress("192.168.1.2:8470", 0).loopback);
  EXPECT_FALSE(ParseListenAddress("", 0).enabled);
  for (const char* bad :
       {"8470", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:84x", ":8470", "::1:8470", "[::1]8470"}) {
    EXPECT_FALSE(ParseListenAddress(bad, 0).error.empty()) << bad;
  }
  EXPECT_FALSE(ParseListenAddress("127.0.0.1:65535", 1).error.empty());  // past the last port
}

TEST(WebListen, AnAddressOtherMachinesReachNeedsTlsAndTheDriverRunsOnWithout) {
  const int port = test::FreeLoopbackPort();
  DriverSandbox box({{"status.time", "1"}, {"http.listen", "0.0.0.0:" + std::to_string(port)}});
  DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.status"), "state:ready"));
  const std::string log = test::ReadFile(box.UserFile("qmdriver.log"));
  EXPECT_NE(log.find("The web server does not start: it would listen on 0.0.0.0:" + std::to_string(port) +
                     ", which other machines reach, without http.tls_cert and http.tls_key"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Web console"), std::string::npos);
  httplib::Client client("127.0.0.1", port);
  EXPECT_FALSE(client.Get("/api/v1/status"));  // nothing listens
}

TEST(WebListen, WithACertificateItSpeaksHttpsAndEachInstanceAddsItsNumberToThePort) {
  test::TempDir keys;
  const std::string cert = keys.File("cert.pem");
  const std::string key = keys.File("key.pem");
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                         "-addext subjectAltName=IP:127.0.0.1 -keyout '" +
                         key + "' -out '" + cert + "' >/dev/null 2>&1")
                            .c_str()),
            0);
  const int base = test::FreeLoopbackPort();
  DriverSandbox box({{"status.time", "1"},
                     {"http.listen", "127.0.0.1:" + std::to_string(base)},
                     {"http.tls_cert", cert},
                     {"http.tls_key", key}});
  DriverProcess driver(box, {"-noicon", "-inst3"}, {}, QM_QMDRIVER_PATH, {}, true);
  const std::string address = "https://127.0.0.1:" + std::to_string(base + 3) + "/?token=";
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.3.log"), "Web console: " + address))
      << test::ReadFile(box.UserFile("qmdriver.3.log"));
  const std::string log = test::ReadFile(box.UserFile("qmdriver.3.log"));
  const std::string token = log.substr(log.find(address) + address.size(), 64);
  // Started in a terminal, it also says so there, once.
  EXPECT_TRUE(WebDriver::WaitUntil([&] { return driver.Stdout().find(token) != std::string::npos; }, 10s));
  EXPECT_EQ(test::Occurrences(driver.Stdout(), "Web console: "), 1) << driver.Stdout();
  EXPECT_NE(driver.Stdout().find("Web console: " + address + token), std::string::npos) << driver.Stdout();

  httplib::SSLClient client("127.0.0.1", base + 3);
  client.set_ca_cert_path(cert.c_str());
  client.enable_server_certificate_verification(true);
  client.set_bearer_token_auth(token.c_str());
  const httplib::Result status = client.Get("/api/v1/status");
  ASSERT_TRUE(status) << httplib::to_string(status.error());
  EXPECT_EQ(status->status, 200);
  EXPECT_EQ(WebDriver::Json(status)["instance"], 3);
  // Over HTTPS the session cookie is never sent in the clear.
  const httplib::Result opened = client.Get(("/?token=" + token).c_str());
  ASSERT_TRUE(opened);
  EXPECT_NE(opened->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);
  httplib::Client plain("127.0.0.1", base + 3);
  plain.set_read_timeout(5s);
  const httplib::Result refused = plain.Get("/api/v1/status");
  EXPECT_TRUE(!refused || refused->status != 200);
}

}  // namespace
}  // namespace qm
