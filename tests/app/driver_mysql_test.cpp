// Growing past one modem: three driver instances, each on its own modem,
// poll one MariaDB queue table every second, and every queued message is sent
// exactly once in all.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "base/config_store.h"
#include "platform/key_store.h"
#include "tests/support/driver_process.h"
#include "tests/support/fake_modem.h"
#include "tests/support/mysql_admin.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;

constexpr int kQueued = 300;

// The custom texts (queue ids) of the rows of a sent or failed table file.
std::vector<std::string> Customs(const std::string& path) {
  std::vector<std::string> customs;
  std::istringstream lines(ReadFile(path));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    customs.push_back(line.substr(line.rfind('\t') + 1));
  }
  return customs;
}

TEST(DriverEndToEnd, ThreeInstancesShareOneMysqlQueueAndSendEachMessageOnce) {
  const char* socket = std::getenv("QM_TEST_MYSQL_SOCKET");
  if (socket == nullptr) GTEST_SKIP() << "QM_TEST_MYSQL_SOCKET is not set (run under scripts/with-services.sh)";
  test::MysqlAdmin admin(socket);
  const std::string name = "qmscale" + std::to_string(::getpid());
  admin.Run("CREATE DATABASE " + name + "; CREATE USER '" + name + "'@'localhost' IDENTIFIED BY 'pw-" + name +
            "'; GRANT ALL ON " + name + ".* TO '" + name + "'@'localhost'; USE " + name +
            "; CREATE TABLE sms_queue (id BIGINT AUTO_INCREMENT PRIMARY KEY, msisdn VARCHAR(32) NOT NULL,"
            " text TEXT NOT NULL, state ENUM('waiting', 'taken') NOT NULL DEFAULT 'waiting',"
            " poll BIGINT UNSIGNED NULL, taken_at DATETIME NULL, KEY (state, id), KEY (poll)) CHARACTER SET utf8mb4");
  struct Cleanup {
    test::MysqlAdmin& admin;
    std::string name;
    ~Cleanup() {
      try {
        admin.Run("DROP DATABASE IF EXISTS " + name + "; DROP USER IF EXISTS '" + name + "'@'localhost'");
      } catch (...) {
      }
    }
  } cleanup{admin, name};
  std::string rows;
  for (int i = 1; i <= kQueued; ++i) {
    rows += std::string(i > 1 ? "," : "") + "('+4917" + std::to_string(1000000 + i) + "', 'queued " +
            std::to_string(i) + "')";
  }
  admin.Run("INSERT INTO " + name + ".sms_queue (msisdn, text) VALUES " + rows);

  // The query the README recommends.
  const std::string query =
      "START TRANSACTION;\n"
      "SET @poll = UUID_SHORT();\n"
      "UPDATE sms_queue JOIN (SELECT id FROM sms_queue WHERE state = 'waiting'\n"
      "                       ORDER BY id LIMIT 40 FOR UPDATE SKIP LOCKED) AS pick USING (id)\n"
      "  SET sms_queue.state = 'taken', sms_queue.poll = @poll, sms_queue.taken_at = NOW();\n"
      "SELECT id AS custom, msisdn, text FROM sms_queue WHERE poll = @poll ORDER BY id";
  test::DriverSandbox box({{"status.time", "1"}, {"sender.delay", "0"}});
  // Each instance on a modem of its own, set in its key store before its
  // first start (the key store holds values of several lines, like this query).
  std::vector<std::unique_ptr<test::FakeModem>> modems;
  {
    test::ScopedEnv home("XDG_CONFIG_HOME", box.Home() + "/config");
    for (int i = 1; i <= 3; ++i) {
      auto modem = std::make_unique<test::FakeModem>();
      modem->Simulate();
      ConfigStore config;
      ASSERT_TRUE(config.LoadFromFile(box.ProgramFolder() + "/qmdriver.cfg"));
      for (const auto& [key, value] : std::map<std::string, std::string>{{"modem.emulation", "0"},
                                                                         {"modem.port", modem->SlavePath()},
                                                                         {"sources.0.type", "mysql"},
                                                                         {"sources.0.name", "queue"},
                                                                         {"sources.0.period", "1"},
                                                                         {"sources.0.host", socket},
                                                                         {"sources.0.base", name},
                                                                         {"sources.0.user", name},
                                                                         {"sources.0.password", "pw-" + name},
                                                                         {"sources.0.query", query}}) {
        config.SetString(key, value);
      }
      ASSERT_TRUE(config.SaveToRegistry(KeyRoot::kCurrentUser,
                                        "Software\\Quillmoor SMS\\Quillmoor GSM Driver " + std::to_string(i)));
      modems.push_back(std::move(modem));
    }
  }
  std::vector<std::unique_ptr<test::DriverProcess>> drivers;
  for (const char* instance : {"-inst1", "-inst2", "-inst3"}) {
    drivers.push_back(std::make_unique<test::DriverProcess>(box, std::vector<std::string>{"-noicon", instance}));
  }
  const auto sentInAll = [&] {
    std::size_t count = 0;
    for (int i = 1; i <= 3; ++i) count += Customs(box.UserFile("sent." + std::to_string(i) + ".txt")).size();
    return count;
  };
  for (int i = 0; i < 1200 && sentInAll() < kQueued; ++i) std::this_thread::sleep_for(100ms);
  std::this_thread::sleep_for(2s);  // a message sent twice would show up by now
  for (auto& driver : drivers) driver->Signal(SIGTERM);
  for (auto& driver : drivers) EXPECT_EQ(driver->WaitExit(30s), 0);

  std::map<std::string, int> times;
  std::size_t instancesThatSent = 0;
  for (int i = 1; i <= 3; ++i) {
    const std::vector<std::string> customs = Customs(box.UserFile("sent." + std::to_string(i) + ".txt"));
    instancesThatSent += customs.empty() ? 0 : 1;
    for (const std::string& custom : customs) ++times[custom];
    EXPECT_TRUE(Customs(box.UserFile("failed." + std::to_string(i) + ".txt")).empty());
  }
  ASSERT_EQ(times.size(), static_cast<std::size_t>(kQueued)) << ReadFile(box.UserFile("qmdriver.1.log"));
  for (int id = 1; id <= kQueued; ++id) EXPECT_EQ(times[std::to_string(id)], 1) << "queue id " << id;
  EXPECT_GE(instancesThatSent, 2u);  // the work was shared
  EXPECT_EQ(admin.Run("SELECT COUNT(*) FROM " + name + ".sms_queue WHERE state = 'waiting'"), "0");
}

}  // namespace
}  // namespace qm
