// The start-up steps of the tables: column lists, instance file names,
// opening, and the message counter.
#include "storage/table_setup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/file_util.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::ReadFile;
using test::WriteFile;

TEST(TableSetup, WritesTheFourColumnListsEndedByAnEmptyEntry) {
  ConfigStore config;
  config.SetString("sent.columns.14", "stale");
  config.SetString("sent.columns.15", "stale");
  WriteMessageTableColumns(config);
  EXPECT_EQ(ReadColumnList(config, "sent").size(), kSentColumns.size());  // the stale entries are cut off
  for (const char* t : {"inbox", "outbox", "sent", "failed"}) {
    EXPECT_EQ(ReadColumnList(config, t).at(kUniqueIdColumn), "uniqueid") << t;
  }
}

TEST(TableSetup, InstanceFileNamesNeverShareAFile) {
  EXPECT_EQ(InstanceFileName("inbox.txt", 0), "inbox.txt");
  EXPECT_EQ(InstanceFileName("inbox.txt", 2), "inbox.2.txt");
  EXPECT_EQ(InstanceFileName("INBOX.2.TXT", 2), "INBOX.2.TXT");  // applied already
  EXPECT_EQ(InstanceFileName("inbox.TXT", 3), "inbox.3.TXT");
  EXPECT_EQ(InstanceFileName("inbox.csv", 3), "inbox.3.csv");
  EXPECT_EQ(InstanceFileName("/data/a.b/inbox", 3), "/data/a.b/inbox.3");
  EXPECT_EQ(InstanceFileName("/data/a.b/inbox.3", 3), "/data/a.b/inbox.3");
  EXPECT_EQ(InstanceFileName(".inbox", 3), ".inbox.3");
  EXPECT_EQ(InstanceFileName("inbox.2.txt", 12), "inbox.2.12.txt");
  EXPECT_EQ(InstanceFileName("inbox.12.txt", 2), "inbox.12.2.txt");

  ConfigStore config;
  config.SetString("inbox.filename", "%appdata%/Quillmoor SMS/inbox.txt");
  ApplyInstanceFileName(config, "inbox", 2);
  EXPECT_EQ(config.GetString("inbox.filename"), "%appdata%/Quillmoor SMS/inbox.2.txt");
  ApplyInstanceFileName(config, "inbox", 2);  // a later start: applied once only
  EXPECT_EQ(config.GetString("inbox.filename"), "%appdata%/Quillmoor SMS/inbox.2.txt");
}

class OpenTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto name : kTableNames) {
      config_.SetString(std::string(name) + ".filename", "%appdata%/Quillmoor SMS/" + std::string(name) + ".txt");
    }
    for (const char* c : {"id", "name", "number", "group", "comment"}) {
      config_.SetFormatted("addrbook.columns.%d", column_++, c);
    }
  }
  std::string File(const std::string& name) { return dir_.File("config/Quillmoor SMS/" + name); }

  test::TempDir dir_;
  test::ScopedEnv env_{"XDG_CONFIG_HOME", dir_.File("config")};
  ConfigStore config_;
  int column_ = 0;
};

TEST_F(OpenTablesTest, CreatesMissingTablesAndTheirFolderForAnInstance) {
  TableSet tables;
  std::string error;
  ASSERT_TRUE(InitialiseTables(config_, 2, false, tables, error)) << error;
  for (const auto name : kTableNames) {
    EXPECT_TRUE(test::FileExists(File(std::string(name) + ".2.txt"))) << name;
    // The setting keeps its variable; only the instance infix is stored.
    EXPECT_EQ(config_.GetString(std::string(name) + ".filename"),
              "%appdata%/Quillmoor SMS/" + std::string(name) + ".2.txt");
  }
  EXPECT_EQ(tables.sent->FileName(), File("sent.2.txt"));
  EXPECT_EQ(tables.sent->Columns().size(), 14u);
  EXPECT_EQ(tables.addrbook->Columns().size(), 5u);
}

TEST_F(OpenTablesTest, LoadsExistingTablesAndRaisesTheMessageCounter) {
  ASSERT_TRUE(MakeDirectories(File("")));
  WriteFile(File("inbox.txt"), "00000001\t1\t+1\tsms\thi\t\t1\t0\t0\t41\t+2\r\n");
  WriteFile(File("sent.txt"),
            "00000002\t1\t+1\tsms\t1\thi\t\t1\t0\t9\t7\tx\t0\t\r\n"
            "00000003\t1\t+1\tsms\t1\thi\t\t1\t0\t120\t7\tx\t0\t\r\n");
  WriteFile(File("addrbook.txt"), "00000005\tAnn\t+3\tfriends\t\r\n");
  config_.SetInt("message.id", 100);
  TableSet tables;
  std::string error;
  ASSERT_TRUE(InitialiseTables(config_, 0, false, tables, error)) << error;
  EXPECT_EQ(tables.inbox->Count(), 1);
  EXPECT_EQ(tables.sent->Count(), 2);
  EXPECT_EQ(tables.addrbook->Count(), 1);
  EXPECT_EQ(tables.sent->NewId(), "00000005");  // largest key + 2
  EXPECT_EQ(config_.GetInt("message.id"), 120);  // numeric: 120 beats 41 and 9

  config_.SetInt("message.id", 500);
  RaiseMessageId(config_, tables);
  EXPECT_EQ(config_.GetInt("message.id"), 500);  // never lowered

  // A damaged row whose "uniqueid" no id can be is passed over.
  config_.SetInt("message.id", 0);
  tables.sent->Put({"00000009", "1", "+1", "sms", "1", "hi", "", "1", "0", "99999999999", "7", "x", "0", ""});
  RaiseMessageId(config_, tables);
  EXPECT_EQ(config_.GetInt("message.id"), 120);
}

TEST_F(OpenTablesTest, ATableThatCannotBeReadIsNeitherWipedNorReplaced) {
  ASSERT_TRUE(MakeDirectories(File("")));
  const std::string row = "00000001\t1\t+1\tsms\thi\t\t1\t0\t0\t41\t+2\r\n";
  WriteFile(File("inbox.txt"), row);
  ASSERT_EQ(::chmod(File("inbox.txt").c_str(), 0200), 0);
  std::string error;
  const int rc = test::RunAsUser(dir_.path(), [&] {
    TableSet tables;
    return InitialiseTables(config_, 0, false, tables, error) ? 1 : 0;
  });
  EXPECT_EQ(rc, 0);
  ASSERT_EQ(::chmod(File("inbox.txt").c_str(), 0600), 0);
  EXPECT_EQ(ReadFile(File("inbox.txt")), row);
}

TEST_F(OpenTablesTest, TheGatewayStartsWithoutAnAddressBookColumnList) {
  for (int i = 0; i <= column_; ++i) config_.SetFormatted("addrbook.columns.%d", i, "");
  TableSet tables;
  std::string error;
  std::vector<std::string> notices;
  ASSERT_TRUE(InitialiseTables(config_, 0, false, tables, error, &notices)) << error;
  EXPECT_EQ(tables.addrbook, nullptr);
  EXPECT_NE(tables.failed, nullptr);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("addrbook.txt"), std::string::npos) << notices[0];
}

TEST_F(OpenTablesTest, ReportsATableThatCanBeNeitherLoadedNorCreated) {
  // The outbox's folder is a plain file: neither load nor create can work.
  ASSERT_TRUE(MakeDirectories(File("")));
  WriteFile(dir_.File("blocker"), "");
  config_.SetString("outbox.filename", dir_.File("blocker") + "/outbox.txt");
  TableSet tables;
  std::string error;
  EXPECT_FALSE(InitialiseTables(config_, 0, false, tables, error));
  EXPECT_EQ(error, "Error opening file (" + dir_.File("blocker") + "/outbox.txt): Not a directory");
  EXPECT_NE(tables.inbox, nullptr);  // opened before it
  EXPECT_EQ(tables.sent, nullptr);   // never reached
}

}  // namespace
}  // namespace qm
