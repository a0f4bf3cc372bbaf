#include "base/config_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <thread>
#include <vector>

#include "base/path_variables.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(ConfigStoreFile, LineRulesByteExactRoundTripAndBadInput) {
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

  const std::string big(1 << 20, 'x');
  // Invalid UTF-8, a NUL inside a value, a 1 MB line, CR-only ends (one line).
  WriteFile(path, "bad=\xC3\x28\xFF\n" + std::string("nul=a\0b\n", 8) + "big=" + big + "\ncr1=a\rcr2=b\r");
  ConfigStore bad;
  ASSERT_TRUE(bad.LoadFromFile(path));
  EXPECT_TRUE(bad.Contains("bad"));
  EXPECT_EQ(bad.GetString("bad"), "");
  EXPECT_EQ(bad.GetString("nul"), std::string("a\0b", 3));
  EXPECT_EQ(bad.GetString("big").size(), big.size());
  EXPECT_EQ(bad.GetString("cr1"), "a\rcr2=b\r");
  EXPECT_EQ(bad.Lines().size(), 4u);
  EXPECT_FALSE(bad.LoadFromFile(dir.File("absent.cfg")));
  EXPECT_FALSE(bad.LoadFromFile(dir.path()));  // a folder cannot be read as a file
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

TEST(ConfigStoreFile, FailedWriteLeavesTheOldFileWhole) {
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

TEST(ConfigStoreValues, IntegersAreReadLikeTheCLibraryAndClamped) {
  ConfigStore c;
  const std::pair<const char*, int32_t> cases[] = {{"12ab", 12},           {"ab", 0}, {"  \t-42 ", -42}, {"+7", 7},
                                                   {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}};
  for (const auto& [text, value] : cases) {
    c.SetString("k", text);
    EXPECT_EQ(c.GetInt("k"), value) << text;
  }
  EXPECT_EQ(c.GetInt("absent"), 0);
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

TEST(ConfigStoreKeys, PrivateFileAnyTextAndOneValueCountsAsNotLoaded) {
  TempDir home;
  test::ScopedEnv config("XDG_CONFIG_HOME", home.File("config"));
  test::ScopedEnv service("QMDRIVER_SERVICE_HOME", home.File("service"));
  ConfigStore c;
  c.SetString("\xD0\x96key", "skipped");  // names must be ASCII
  c.SetString("multi", "line1\r\nline2=still\\value");
  c.SetString("empty", "");
  ASSERT_TRUE(c.SaveToRegistry(KeyRoot::kServiceAccount, "Software\\Q 3"));
  ConfigStore back;
  ASSERT_TRUE(back.LoadFromRegistry(KeyRoot::kServiceAccount, "Software\\Q 3"));
  EXPECT_EQ(back.Values(), (decltype(back.Values()){{"empty", ""}, {"multi", "line1\r\nline2=still\\value"}}));
  struct stat st {};
  ASSERT_EQ(::stat((home.File("service") + "/registry/Software/Q 3.reg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the file may hold passwords

  ASSERT_TRUE(WriteKeyValues(KeyRoot::kCurrentUser, "Software\\Q", {{"only", "1"}}));
  EXPECT_FALSE(ConfigStore().LoadFromRegistry(KeyRoot::kCurrentUser, "Software\\Q"));
  ASSERT_TRUE(WriteKeyValues(KeyRoot::kCurrentUser, "Software\\Q", {{"second", "2"}}));  // "only" is kept
  EXPECT_TRUE(ConfigStore().LoadFromRegistry(KeyRoot::kCurrentUser, "Software\\Q"));
  EXPECT_FALSE(ConfigStore().LoadFromRegistry(KeyRoot::kCurrentUser, "Software\\Absent"));
}

TEST(PathExpansion, ReferencesPercentPairsAndServiceProfile) {
  test::ScopedEnv a("QM_TEST_VAR", "value");
  test::ScopedEnv b("QM_TEST_UNDEFINED", std::nullopt);
  test::ScopedEnv c("QMDRIVER_SERVICE_HOME", "/srv/qm");
  test::ScopedEnv d("XDG_CONFIG_HOME", "/home/u/.config");
  EXPECT_EQ(ExpandPathVariables("%QM_TEST_VAR%/x", false), "value/x");
  EXPECT_EQ(ExpandPathVariables("%qm_test_var%", false), "value");  // case-insensitive fallback
  EXPECT_EQ(ExpandPathVariables("a%QM_TEST_UNDEFINED%b", false), "ab");
  EXPECT_EQ(ExpandPathVariables("%QM_TEST_VAR%%%", false), "value%%");
  EXPECT_EQ(ExpandPathVariables("50% off", false), "50% off");
  EXPECT_EQ(ExpandPathVariables("%appdata%/Q", false), "/home/u/.config/Q");
  EXPECT_EQ(ExpandPathVariables("%appdata%/Q", true), "/srv/qm/Q");
  EXPECT_EQ(ExpandPathVariables("%APPDATA%/Q", true), "/srv/qm/Q");  // in any case, as every variable
}

}  // namespace
}  // namespace qm
