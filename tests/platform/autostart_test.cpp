#include "platform/autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;

struct Folders {
  TempDir dir;
  ScopedEnv machine{"QMDRIVER_XDG_AUTOSTART_DIR", dir.File("machine")};
  ScopedEnv user{"XDG_CONFIG_HOME", dir.File("home")};
  std::string Machine(const std::string& name) const { return dir.File("machine/" + name); }
  std::string User(const std::string& name) const { return dir.File("home/autostart/" + name); }
};

TEST(Autostart, ExecLineQuotingFollowsTheDesktopEntryFormat) {
  EXPECT_EQ(QuoteExecArgument("-inst3"), "-inst3");
  EXPECT_EQ(QuoteExecArgument("/opt/qm driver/qmdriver"), "\"/opt/qm driver/qmdriver\"");
  EXPECT_EQ(QuoteExecArgument("a\"b$c`d\\e"), "\"a\\\"b\\$c\\`d\\\\e\"");
  EXPECT_EQ(QuoteExecArgument("100%"), "100%%");
  EXPECT_EQ(QuoteExecArgument(""), "\"\"");

  const std::string text = MakeAutostartText({"qmdriver_2", {"/opt/q d/qmdriver", "-inst2", "x\\y"}, "/srv/q\\m"});
  // Quoting first, then the file format's own escapes double every backslash.
  EXPECT_NE(text.find("\nExec=\"/opt/q d/qmdriver\" -inst2 \"x\\\\\\\\y\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nPath=/srv/q\\\\m\n"), std::string::npos);
  EXPECT_NE(text.find("\nName=qmdriver_2\n"), std::string::npos);
  EXPECT_EQ(text.rfind("[Desktop Entry]\nType=Application\n", 0), 0u);

  // A relative program piece becomes this executable's absolute path.
  const std::string relative = MakeAutostartText({"qmdriver", {"./qmdriver", "-noicon"}, "/srv"});
  EXPECT_NE(relative.find("\nExec=/"), std::string::npos) << relative;
  EXPECT_NE(relative.find(" -noicon\n"), std::string::npos);
}

TEST(Autostart, MachineFolderWhenWritableElseUser) {
  Folders f;
  const AutostartEntry entry{"qmdriver_4", {"/usr/bin/qmdriver", "-inst4"}, "/srv"};
  EXPECT_FALSE(AutostartQuery("qmdriver_4"));
  // No machine folder: the entry goes to the user's folder, created on the way.
  ASSERT_TRUE(AutostartEnable(entry));
  EXPECT_TRUE(test::FileExists(f.User("qmdriver_4.desktop")));
  EXPECT_TRUE(AutostartQuery("qmdriver_4"));
  EXPECT_FALSE(AutostartQuery("qmdriver"));  // other instances are other entries
  AutostartDisable("qmdriver_4");
  EXPECT_FALSE(AutostartQuery("qmdriver_4"));

  ASSERT_EQ(::mkdir(f.dir.File("machine").c_str(), 0755), 0);
  ASSERT_TRUE(AutostartEnable(entry));
  EXPECT_TRUE(test::FileExists(f.Machine("qmdriver_4.desktop")));
  EXPECT_FALSE(test::FileExists(f.User("qmdriver_4.desktop")));
  EXPECT_NE(ReadFile(f.Machine("qmdriver_4.desktop")).find("\nExec=/usr/bin/qmdriver -inst4\n"), std::string::npos);
}

TEST(Autostart, NamesCompareIgnoringCaseAndDisableClearsBothFolders) {
  Folders f;
  ASSERT_EQ(::mkdir(f.dir.File("machine").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(f.dir.File("home").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(f.dir.File("home/autostart").c_str(), 0755), 0);
  test::WriteFile(f.Machine("QMDriver.desktop"), "[Desktop Entry]\n");
  test::WriteFile(f.User("qmdriver.DESKTOP"), "[Desktop Entry]\n");
  test::WriteFile(f.User("qmdriver-old.desktop"), "[Desktop Entry]\n");
  EXPECT_TRUE(AutostartQuery("qmdriver"));
  AutostartDisable("qmdriver");
  EXPECT_FALSE(AutostartQuery("qmdriver"));
  EXPECT_TRUE(test::FileExists(f.User("qmdriver-old.desktop")));
}

TEST(Autostart, SetOnlyChangesWhatDiffers) {
  Folders f;
  const AutostartEntry entry{"qmdriver", {"/usr/bin/qmdriver"}, "/srv"};
  EXPECT_TRUE(AutostartSet(entry, false));
  EXPECT_FALSE(AutostartQuery("qmdriver"));
  EXPECT_TRUE(AutostartSet(entry, true));
  EXPECT_TRUE(AutostartQuery("qmdriver"));
  // Present and wanted: left as it is, even with other contents.
  test::WriteFile(f.User("qmdriver.desktop"), "[Desktop Entry]\nExec=custom\n");
  EXPECT_TRUE(AutostartSet(entry, true));
  EXPECT_EQ(ReadFile(f.User("qmdriver.desktop")), "[Desktop Entry]\nExec=custom\n");
  EXPECT_TRUE(AutostartSet(entry, false));
  EXPECT_FALSE(AutostartQuery("qmdriver"));
}

}  // namespace
}  // namespace qm
