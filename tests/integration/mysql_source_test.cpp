// The MySQL source against a real MariaDB server (scripts/with-services.sh
// starts one and names its socket in QM_TEST_MYSQL_SOCKET): a queue table
// polled with a select-and-mark query, alone and by three pollers at once,
// failures, reconnects and stops.
#include "integration/mysql_source.h"

#include <gtest/gtest.h>
#include <mysql.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/config_store.h"
#include "base/logger.h"
#include "tests/support/http_test_server.h"
#include "tests/support/mysql_admin.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// Takes each waiting row once, however many pollers run it at the same time.
// The source commits the transaction after the last row has arrived.
std::string TakeQuery(int batch) {
  return "START TRANSACTION;\n"
         "SET @poll = UUID_SHORT();\n"
         "UPDATE queue JOIN (SELECT id FROM queue WHERE state = 'waiting' ORDER BY id LIMIT " +
         std::to_string(batch) +
         " FOR UPDATE SKIP LOCKED) AS pick USING (id)\n"
         "  SET queue.state = 'taken', queue.poll = @poll, queue.taken_at = NOW();\n"
         "SELECT id AS custom, msisdn, body AS Text, url, flash, report, ussd\n"
         "  FROM queue WHERE poll = @poll ORDER BY id";
}

using Admin = test::MysqlAdmin;

class MysqlSource : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* socket = std::getenv("QM_TEST_MYSQL_SOCKET");
    if (socket == nullptr) GTEST_SKIP() << "QM_TEST_MYSQL_SOCKET is not set (run under scripts/with-services.sh)";
    socket_ = socket;
    admin_ = std::make_unique<Admin>(socket_);
    static std::atomic<int> counter{0};
    name_ = "qm" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    admin_->Run("CREATE DATABASE " + name_ + "; CREATE USER '" + name_ + "'@'localhost' IDENTIFIED BY 'pw!" + name_ +
                "'; GRANT ALL ON " + name_ + ".* TO '" + name_ + "'@'localhost'; USE " + name_ +
                "; CREATE TABLE queue (id INT AUTO_INCREMENT PRIMARY KEY, msisdn VARCHAR(32), body TEXT,"
                " url TEXT, flash VARCHAR(8), report BIT(1), ussd VARCHAR(64),"
                " state ENUM('waiting', 'taken') NOT NULL DEFAULT 'waiting', poll BIGINT UNSIGNED,"
                " taken_at DATETIME, KEY (state, id), KEY (poll)) CHARACTER SET utf8mb4");
    config_.LoadFromText("source.timeout=30\n");
  }
  void TearDown() override {
    if (admin_) admin_->Run("DROP DATABASE IF EXISTS " + name_ + "; DROP USER IF EXISTS '" + name_ + "'@'localhost'");
  }

  std::unique_ptr<MysqlSMSSource> Source(const std::string& query) {
    auto source = std::make_unique<MysqlSMSSource>(services_);
    source->query = query;
    source->host = socket_;
    source->base = name_;
    source->user = name_;
    source->password = "pw!" + name_;
    source->log = 1;
    return source;
  }
  std::string Log() const { return test::ReadFile(dir_.File("log")); }
  // The server's id for the source's connection ("" when it has none).
  std::string ConnectionId() {
    return admin_->Run("SELECT GROUP_CONCAT(ID) FROM information_schema.PROCESSLIST WHERE USER = '" + name_ + "'");
  }

  test::TempDir dir_;
  std::string socket_;
  std::string name_;
  std::unique_ptr<Admin> admin_;
  ConfigStore config_;
  Logger log_{dir_.File("log"), nullptr};
  std::stop_source stop_;
  std::vector<ReplayRequest> replays_;
  SourceServices services_{log_, config_, {}, stop_.get_token(), [this](const std::vector<ReplayRequest>& requests) {
                             replays_.insert(replays_.end(), requests.begin(), requests.end());
                           }};
};

TEST_F(MysqlSource, PollsTakeWaitingRowsOnceAsMessagesOverOneConnection) {
  admin_->Run("INSERT INTO " + name_ +
              ".queue (msisdn, body, url, flash, report, ussd) VALUES"
              " ('+4917011111', 'Grüße 😀', NULL, 'False', b'1', NULL),"
              " ('+4917022222', 'push text', 'http://wap.example/x', 'false', b'0', NULL),"
              " (NULL, NULL, NULL, NULL, NULL, '*100#'),"
              " ('', 'nobody', NULL, '1', NULL, NULL),"
              " ('+4917033333', NULL, NULL, '0', NULL, NULL)");
  auto source = Source(TakeQuery(3));
  WorkItems first = source->Retrieve();
  // The marks are committed as soon as the rows have arrived, although the
  // query leaves its transaction open.
  EXPECT_EQ(admin_->Run("SELECT COUNT(*) FROM " + name_ + ".queue WHERE state = 'taken'"), "3");
  const std::string connection = ConnectionId();
  WorkItems second = source->Retrieve();
  EXPECT_TRUE(source->Retrieve().empty());
  EXPECT_EQ(ConnectionId(), connection);
  EXPECT_FALSE(connection.empty());

  ASSERT_EQ(first.size(), 3u) << Log();
  EXPECT_EQ(first[0]->KindName(), "sms");
  EXPECT_EQ(first[0]->to, "+4917011111");
  EXPECT_EQ(first[0]->body, "Grüße 😀");
  EXPECT_EQ(first[0]->flags, kFlagFlash | kFlagStatusReport);
  EXPECT_EQ(first[0]->custom, "1");
  EXPECT_EQ(first[1]->KindName(), "push");
  EXPECT_EQ(first[1]->Url(), "http://wap.example/x");
  EXPECT_EQ(first[1]->body, "push text");
  EXPECT_EQ(first[1]->flags, 0u);
  EXPECT_EQ(first[2]->KindName(), "ussd");
  EXPECT_EQ(first[2]->body, "*100#");
  ASSERT_EQ(second.size(), 1u);  // the row without a number is taken but gives nothing
  EXPECT_EQ(second[0]->to, "+4917033333");
  EXPECT_EQ(second[0]->body, "");
  EXPECT_EQ(second[0]->flags, 0u);
  EXPECT_EQ(admin_->Run("SELECT COUNT(*) FROM " + name_ + ".queue WHERE state = 'taken'"), "5");
  EXPECT_NE(Log().find("SMS source returned: custom=1, msisdn=+4917011111, Text=Grüße 😀, url=NULL, flash=False, "
                       "report=1, ussd=NULL"),
            std::string::npos);

  // Whole documents, with their requests to report messages again; a broken
  // one costs only itself.
  auto documents = Source(
      "SELECT '<message msisdn=\"+4917044444\">from xml</message><ussd>*101#</ussd>' AS XML;"
      "SELECT '<handle custom=\"order 5\"/>' AS xml UNION ALL SELECT '<message' "
      "UNION ALL SELECT NULL");
  const WorkItems items = documents->Retrieve();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->body, "from xml");
  EXPECT_EQ(items[1]->KindName(), "ussd");
  ASSERT_EQ(replays_.size(), 1u);
  EXPECT_EQ(replays_[0].custom, "order 5");
}

TEST_F(MysqlSource, FailedPollsReturnNothingRollBackTheirMarksAndTheNextPollReconnects) {
  admin_->Run("INSERT INTO " + name_ + ".queue (msisdn, body) VALUES ('+4917011111', 'a'), ('+4917022222', 'b')");
  auto source = Source(TakeQuery(1));
  source->password = "wrong";
  EXPECT_TRUE(source->Retrieve().empty());
  EXPECT_NE(Log().find("Failed to retrieve source: Access denied for user '" + name_ + "'@'localhost'"),
            std::string::npos);
  source->password = "pw!" + name_;

  // Rows marked by a poll that then fails stay waiting.
  source->query = TakeQuery(1) + "; SELECT * FROM missing";
  EXPECT_TRUE(source->Retrieve().empty());
  EXPECT_NE(Log().find("Failed to retrieve source: Table '" + name_ + ".missing' doesn't exist"), std::string::npos);
  for (int i = 0; i < 100 && !ConnectionId().empty(); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(admin_->Run("SELECT COUNT(*) FROM " + name_ + ".queue WHERE state = 'waiting'"), "2");

  source->query = TakeQuery(1);
  ASSERT_EQ(source->Retrieve().size(), 1u) << Log();
  // A connection the server dropped between polls costs no poll.
  const std::string killed = ConnectionId();
  admin_->Run("KILL " + killed);
  for (int i = 0; i < 100 && !ConnectionId().empty(); ++i) std::this_thread::sleep_for(20ms);
  const std::size_t logged = Log().size();
  const WorkItems after = source->Retrieve();
  ASSERT_EQ(after.size(), 1u) << Log();
  EXPECT_EQ(after[0]->to, "+4917022222");
  EXPECT_EQ(Log().find("Failed", logged), std::string::npos);
  EXPECT_NE(ConnectionId(), killed);
}

TEST_F(MysqlSource, AConcurrentStopEndsALongQueryOrAConnectToASilentServerAtOnce) {
  test::HttpTestServer silent([](const test::RecordedRequest&) {
    test::TestReply reply;
    reply.silent = true;  // accepts, and never says a word
    return reply;
  });
  for (const bool connecting : {false, true}) {
    std::stop_source stop;
    services_.stop = stop.get_token();
    auto source = Source("SELECT 1 AS msisdn; SELECT SLEEP(30) AS msisdn");
    if (connecting) source->host = "localhost:" + std::to_string(silent.Port());  // TCP despite "localhost"
    std::jthread stopper([&stop] {
      std::this_thread::sleep_for(500ms);
      stop.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(source->Retrieve().empty()) << connecting;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << connecting;
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms) << connecting;
  }
  EXPECT_EQ(silent.Connections(), 1u);
  EXPECT_NE(Log().find("Failed to retrieve source: the driver is stopping"), std::string::npos);
}

TEST_F(MysqlSource, ConcurrentPollersTakeEachRowOnce) {
  admin_->Run("INSERT INTO " + name_ + ".queue (msisdn, body) SELECT CONCAT('+49170', seq), 'x' FROM seq_1_to_300");
  std::mutex mutex;
  std::map<std::string, int> taken;
  int pollersWithRows = 0;
  std::atomic<int> total{0};
  std::vector<std::jthread> pollers;
  for (int i = 0; i < 3; ++i) {
    // Each poll keeps its rows locked a while, so the pollers' transactions overlap.
    pollers.emplace_back([&, source = Source(TakeQuery(7) + "; DO SLEEP(0.01)")] {
      int mine = 0;
      for (auto deadline = std::chrono::steady_clock::now() + 60s; total < 300;) {
        if (std::chrono::steady_clock::now() > deadline) break;
        for (const auto& item : source->Retrieve()) {
          const std::lock_guard lock(mutex);
          ++taken[item->custom];
          ++total;
          ++mine;
        }
      }
      const std::lock_guard lock(mutex);
      if (mine > 0) ++pollersWithRows;
    });
  }
  pollers.clear();
  EXPECT_EQ(total, 300);
  EXPECT_EQ(taken.size(), 300u);
  for (const auto& [id, count] : taken) EXPECT_EQ(count, 1) << id;
  EXPECT_GE(pollersWithRows, 2);
  EXPECT_EQ(Log().find("Failed"), std::string::npos) << Log();
}

TEST(MysqlHost, NamesPortsV6AddressesAndSockets) {
  struct Case {
    const char* text;
    const char* host;
    uint16_t port;
    const char* socket;
  } cases[] = {
      {"", "", 0, ""},
      {"db.example", "db.example", 0, ""},
      {"db.example:3307", "db.example", 3307, ""},
      {"[::1]:3307", "::1", 3307, ""},
      {"::1", "::1", 0, ""},
      {"/run/mysqld/mysqld.sock", "", 0, "/run/mysqld/mysqld.sock"},
      {"db.example:99999", "db.example:99999", 0, ""},
  };
  for (const Case& c : cases) {
    const MysqlEndpoint at = ParseMysqlHost(c.text);
    EXPECT_EQ(at.host, c.host) << c.text;
    EXPECT_EQ(at.port, c.port) << c.text;
    EXPECT_EQ(at.socket, c.socket) << c.text;
  }
}

}  // namespace
}  // namespace qm
