#include "base/config_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <thread>
#include <vector>

#include "base/path_variables.h"
#include "platform/file_util.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(ConfigStoreFile, LineRulesAndByteExactRoundTrip) {
  TempDir dir;
  const std::string path = dir.File("q.cfg");
  // Comments, blank lines, a line without "=", a line starting with "=", two
  // "=" signs, a key with a leading blank, LF-only and CR LF ends, no final LF.
  WriteFile(path, "# comment\r\n\nnoequals\n=x\na=b=c\n key=v\r\nk=1\nk=2\nlast=z");
  ConfigStore c;
  ASSERT_TRUE(c.LoadFromFile(path));
  EXPECT_EQ(c.GetString("a"), "b=c");
  EXPECT_EQ(c.GetString(" key"), "v");
  EXPECT_EQ(c.GetString("key"), "");
  EXPECT_EQ(c.GetString("k"), "2");  // the last occurrence wins
  EXPECT_EQ(c.GetString("last"), "z");
  EXPECT_FALSE(c.Contains("noequals"));
  EXPECT_FALSE(c.Contains(""));

  ASSERT_TRUE(c.SaveToFile(path));
  // Same lines, CR LF after every one; the first "k" line takes the value.
  EXPECT_EQ(ReadFile(path), "# comment\r\n\r\nnoequals\r\n=x\r\na=b=c\r\n key=v\r\nk=2\r\nk=2\r\nlast=z\r\n");

  c.SetString("k", "new");
  c.SetString("key", "w");
  c.SetString("b.new", "1");
  c.SetString("a.new", "2");
  ASSERT_TRUE(c.SaveToFile(path));
  EXPECT_EQ(ReadFile(path),
            "# comment\r\n\r\nnoequals\r\n=x\r\na=b=c\r\n key=v\r\nk=new\r\nk=2\r\nlast=z\r\n"
            "a.new=2\r\nb.new=1\r\nkey=w\r\n");
}

TEST(ConfigStoreFile, BadInputIsHandledByTheLineRules) {
  TempDir dir;
  const std::string path = dir.File("bad.cfg");
  std::string big(1 << 20, 'x');
  std::string data = "bad=\xC3\x28\xFF\n";                 // invalid UTF-8 -> empty value
  data += std::string("nul=a\0b", 7) + "\n";              // NUL inside a value is kept
  data += "big=" + big + "\n";                            // a 1 MB line
  data += "cr1=a\rcr2=b\r";                               // CR-only ends: one line
  WriteFile(path, data);
  ConfigStore c;
  ASSERT_TRUE(c.LoadFromFile(path));
  EXPECT_TRUE(c.Contains("bad"));
  EXPECT_EQ(c.GetString("bad"), "");
  EXPECT_EQ(c.GetString("nul"), std::string("a\0b", 3));
  EXPECT_EQ(c.GetString("big").size(), big.size());
  EXPECT_EQ(c.GetString("cr1"), "a\rcr2=b\r");
  EXPECT_EQ(c.Lines().size(), 4u);

  ConfigStore missing;
  EXPECT_FALSE(missing.LoadFromFile(dir.File("absent.cfg")));
  EXPECT_FALSE(missing.LoadFromFile(dir.path()));  // a folder cannot be read as a file
  EXPECT_TRUE(missing.Lines().empty());
}

TEST(ConfigStoreFile, LineBreaksInValuesCannotInjectKeys) {
  TempDir dir;
  const std::string path = dir.File("q.cfg");
  ConfigStore c;
  c.SetString("name", "x\r\nmodem.port=evil");
  ASSERT_TRUE(c.SaveToFile(path));
  ConfigStore back;
  ASSERT_TRUE(back.LoadFromFile(path));
  EXPECT_EQ(back.GetString("name"), "x  modem.port=evil");
  EXPECT_FALSE(back.Contains("modem.port"));
}

TEST(ConfigStoreValues, IntegerConversions) {
  ConfigStore c;
  c.SetString("a", "12ab");
  c.SetString("b", "ab");
  c.SetString("c", "  \t-42 ");
  c.SetString("d", "+7");
  c.SetString("e", "99999999999");
  c.SetString("f", "-99999999999");
  EXPECT_EQ(c.GetInt("a"), 12);
  EXPECT_EQ(c.GetInt("b"), 0);
  EXPECT_EQ(c.GetInt("absent"), 0);
  EXPECT_EQ(c.GetInt("c"), -42);
  EXPECT_EQ(c.GetInt("d"), 7);
  EXPECT_EQ(c.GetInt("e"), INT32_MAX);
  EXPECT_EQ(c.GetInt("f"), INT32_MIN);
  c.SetInt("neg", -5);
  EXPECT_EQ(c.GetString("neg"), "-5");
  c.SetFormatted("port.%d.name", 3, "ttyUSB0");
  EXPECT_EQ(c.GetString("port.3.name"), "ttyUSB0");
  EXPECT_EQ(c.GetFormatted("port.%d.name", 3), "ttyUSB0");
}

TEST(ConfigStoreValues, ConcurrentGetAndSetFromSeveralThreads) {
  ConfigStore c;
  std::vector<std::jthread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&c, t] {
      for (int i = 0; i < 2000; ++i) {
        c.SetInt("shared", i);
        c.SetFormatted("t%d.key", t, std::to_string(i));
        (void)c.GetInt("shared");
        (void)c.ToFileText();
      }
    });
  }
  threads.clear();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(c.GetFormatted("t%d.key", t), "1999");
}

class KeyStoreTest : public ::testing::Test {
 protected:
  TempDir home_;
  test::ScopedEnv config_{"XDG_CONFIG_HOME", home_.File("config")};
  test::ScopedEnv service_{"QMDRIVER_SERVICE_HOME", home_.File("service")};
};

TEST_F(KeyStoreTest, OneValueCountsAsNotLoaded) {
  ASSERT_TRUE(WriteKeyValues(KeyRoot::kCurrentUser, "Software\\Q", {{"only", "1"}}));
  ConfigStore c;
  EXPECT_FALSE(c.LoadFromRegistry(KeyRoot::kCurrentUser, "Software\\Q"));
  ASSERT_TRUE(WriteKeyValues(KeyRoot::kCurrentUser, "Software\\Q", {{"second", "2"}}));
  ConfigStore d;
  EXPECT_TRUE(d.LoadFromRegistry(KeyRoot::kCurrentUser, "Software\\Q"));
  EXPECT_EQ(d.GetString("only"), "1");
  EXPECT_EQ(d.GetString("second"), "2");
  EXPECT_FALSE(d.LoadFromRegistry(KeyRoot::kCurrentUser, "Software\\Absent"));
}

TEST_F(KeyStoreTest, SaveSkipsNonAsciiNamesAndKeepsAnyText) {
  ConfigStore c;
  c.SetString("\xD0\x96key", "skipped");
  c.SetString("multi", "line1\r\nline2=still\\value");
  c.SetString("empty", "");
  ASSERT_TRUE(c.SaveToRegistry(KeyRoot::kServiceAccount, "Software\\Q 3"));
  const std::string file = KeyFilePath(KeyRoot::kServiceAccount, "Software\\Q 3");
  EXPECT_EQ(file, home_.File("service") + "/registry/Software/Q 3.reg");
  ConfigStore back;
  ASSERT_TRUE(back.LoadFromRegistry(KeyRoot::kServiceAccount, "Software\\Q 3"));
  EXPECT_EQ(back.Values().size(), 2u);
  EXPECT_EQ(back.GetString("multi"), "line1\r\nline2=still\\value");
  EXPECT_TRUE(back.Contains("empty"));
  // The file may hold passwords.
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(ConfigStoreSave, FailedWriteLeavesTheOldFileWhole) {
  TempDir dir;
  const std::string path = dir.File("q.cfg");
  const std::string old = "keep=this\r\n";
  WriteFile(path, old);
  // In a child whose file-size limit is tiny, the save fails part-way through.
  const int rc = test::RunInChild([&] {
    ConfigStore c;
    if (!c.LoadFromFile(path)) return 2;
    c.SetString("big", std::string(64 * 1024, 'x'));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &lim);
    return c.SaveToFile(path) ? 1 : 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(ReadFile(path), old);
  // No temporary file is left behind.
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1);
}

TEST(PathExpansion, ReferencesPercentPairsAndServiceProfile) {
  test::ScopedEnv a("QM_TEST_VAR", "value");
  test::ScopedEnv b("QM_TEST_UNDEFINED", std::nullopt);
  test::ScopedEnv c("QMDRIVER_SERVICE_HOME", "/srv/qm");
  test::ScopedEnv d("XDG_CONFIG_HOME", "/home/u/.config");
  EXPECT_EQ(ExpandPathVariables("%QM_TEST_VAR%/x", false), "value/x");
  EXPECT_EQ(ExpandPathVariables("%qm_test_var%", false), "value");  // case-insensitive fallback
  EXPECT_EQ(ExpandPathVariables("a%QM_TEST_UNDEFINED%b", false), "ab");
  EXPECT_EQ(ExpandPathVariables("100%%", false), "100%%");
  EXPECT_EQ(ExpandPathVariables("%QM_TEST_VAR%%%", false), "value%%");
  EXPECT_EQ(ExpandPathVariables("50% off", false), "50% off");
  EXPECT_EQ(ExpandPathVariables("%appdata%/Q", false), "/home/u/.config/Q");
  EXPECT_EQ(ExpandPathVariables("%appdata%/Q", true), "/srv/qm/Q");
  EXPECT_EQ(ExpandPathVariables("%APPDATA%/Q", true), "/home/u/.config/Q");  // only lower case means the service
}

}  // namespace
}  // namespace qm
