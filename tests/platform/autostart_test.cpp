#include "platform/autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::ReadFile;

struct Folders {
  test::TempDir dir;
  test::ScopedEnv machine{"QMDRIVER_XDG_AUTOSTART_DIR", dir.File("machine")};
  test::ScopedEnv user{"XDG_CONFIG_HOME", dir.File("home")};
  std::string Machine(const std::string& name) const { return dir.File("machine/" + name); }
  std::string User(const std::string& name) const { return dir.File("home/autostart/" + name); }
};

TEST(Autostart, ExecLineQuotingFollowsTheDesktopEntryFormat) {
  EXPECT_EQ(QuoteExecArgument("-inst3"), "-inst3");
  EXPECT_EQ(QuoteExecArgument("a\"b$c`d\\e f"), "\"a\\\"b\\$c\\`d\\\\e f\"");
  EXPECT_EQ(QuoteExecArgument("100%"), "100%%");
  EXPECT_EQ(QuoteExecArgument(""), "\"\"");
  const std::string text = MakeAutostartText({"qmdriver_2", {"/opt/q d/qmdriver", "-inst2", "x\\y"}, "/srv/q\\m"});
  // Quoting first, then the file format's own escapes double every backslash.
  EXPECT_NE(text.find("\nExec=\"/opt/q d/qmdriver\" -inst2 \"x\\\\\\\\y\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nPath=/srv/q\\\\m\n"), std::string::npos);
  // A relative program piece becomes this executable's absolute path.
  EXPECT_NE(MakeAutostartText({"qmdriver", {"./qmdriver", "-noicon"}, "/srv"}).find("\nExec=/"), std::string::npos);
}

// The user folder until the machine folder is writable; names ignore case,
// and setting changes only what differs.
TEST(Autostart, EnableQuerySetAcrossBothFolders) {
  Folders f;
  const AutostartEntry entry{"qmdriver_4", {"/usr/bin/qmdriver", "-inst4"}, "/srv"};
  ASSERT_TRUE(AutostartEnable(entry));  // no machine folder: the user's, created on the way
  EXPECT_TRUE(test::FileExists(f.User("qmdriver_4.desktop")));
  EXPECT_TRUE(AutostartQuery("qmdriver_4"));
  EXPECT_FALSE(AutostartQuery("qmdriver"));  // other instances are other entries
  AutostartDisable("qmdriver_4");
  EXPECT_FALSE(AutostartQuery("qmdriver_4"));

  ASSERT_EQ(::mkdir(f.dir.File("machine").c_str(), 0755), 0);
  test::WriteFile(f.Machine("QMDriver_4.desktop"), "[Desktop Entry]\nExec=custom\n");
  test::WriteFile(f.Machine("qmdriver_4-old.desktop"), "[Desktop Entry]\n");
  EXPECT_TRUE(AutostartSet(entry, true));  // present and wanted: left as it is
  EXPECT_EQ(ReadFile(f.Machine("QMDriver_4.desktop")), "[Desktop Entry]\nExec=custom\n");
  ASSERT_TRUE(AutostartEnable(entry));
  EXPECT_NE(ReadFile(f.Machine("qmdriver_4.desktop")).find("\nExec=/usr/bin/qmdriver -inst4\n"), std::string::npos);
  EXPECT_FALSE(test::FileExists(f.User("qmdriver_4.desktop")));
  EXPECT_TRUE(AutostartSet(entry, false));  // disabling clears every spelling
  EXPECT_FALSE(AutostartQuery("qmdriver_4"));
  EXPECT_TRUE(test::FileExists(f.Machine("qmdriver_4-old.desktop")));
  EXPECT_TRUE(AutostartSet(entry, true));  // absent and wanted: enabled
  EXPECT_TRUE(AutostartQuery("qmdriver_4"));
}

TEST(Autostart, HiddenEntriesAndTheUsersOverride) {
  Folders f;
  const AutostartEntry entry{"qmdriver_5", {"/usr/bin/qmdriver", "-inst5"}, "/srv"};
  ASSERT_EQ(::mkdir(f.dir.File("machine").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(f.dir.File("home").c_str(), 0755), 0);
  test::WriteFile(f.Machine("qmdriver_5.desktop"), "[Desktop Entry]\nHidden = True\n");
  EXPECT_FALSE(AutostartQuery("qmdriver_5"));  // hidden counts as absent
  ASSERT_TRUE(AutostartEnable(entry));
  EXPECT_TRUE(AutostartQuery("qmdriver_5"));

  // A user who may not remove the machine's entry switches it off for
  // themselves, and on again.
  ASSERT_EQ(::chmod(f.dir.File("machine").c_str(), 0555), 0);
  EXPECT_EQ(test::RunAsUser(f.dir.path(), [] {
              AutostartDisable("qmdriver_5");
              return AutostartQuery("qmdriver_5") ? 1 : 0;
            }),
            0);
  EXPECT_TRUE(test::FileExists(f.Machine("qmdriver_5.desktop")));
  EXPECT_NE(ReadFile(f.User("qmdriver_5.desktop")).find("\nHidden=true\n"), std::string::npos);
  EXPECT_EQ(test::RunAsUser(f.dir.path(), [&] { return AutostartSet(entry, true) && AutostartQuery("qmdriver_5") ? 0 : 1; }),
            0);
  EXPECT_EQ(ReadFile(f.User("qmdriver_5.desktop")).find("Hidden"), std::string::npos);
}

}  // namespace
}  // namespace qm
