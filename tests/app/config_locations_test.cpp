#include "app/config_locations.h"

#include <gtest/gtest.h>

#include "platform/file_util.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class ConfigLocationsTest : public ::testing::Test {
 protected:
  TempDir home_;
  test::ScopedEnv config_{"XDG_CONFIG_HOME", home_.File("config")};
  test::ScopedEnv service_{"QMDRIVER_SERVICE_HOME", home_.File("service")};
};

TEST_F(ConfigLocationsTest, LoadConfigurationPrefersKeyStoreThenUserFileThenTemplate) {
  TempDir program;
  WriteFile(program.File("qmdriver.cfg"), "from=template\nx=1\n");
  const ConfigLocations where = MakeConfigLocations(2, program.path(), false);
  EXPECT_EQ(where.subkey, "Software\\Quillmoor SMS\\Quillmoor GSM Driver 2");
  EXPECT_EQ(where.userFile, home_.File("config") + "/Quillmoor SMS/qmdriver.cfg");

  ConfigStore first;
  ASSERT_TRUE(LoadConfiguration(first, where));
  EXPECT_EQ(first.GetString("from"), "template");
  EXPECT_TRUE(test::FileExists(where.userFolder));

  WriteFile(where.userFile, "from=user\nx=1\n");
  ConfigStore second;
  ASSERT_TRUE(LoadConfiguration(second, where));
  EXPECT_EQ(second.GetString("from"), "user");

  second.SetString("from", "store");
  ASSERT_TRUE(SaveConfiguration(second, where));
  ConfigStore third;
  ASSERT_TRUE(LoadConfiguration(third, where));
  EXPECT_EQ(third.GetString("from"), "store");
  EXPECT_TRUE(third.Lines().empty());
}

TEST_F(ConfigLocationsTest, LoadConfigurationFailsWithoutTemplate) {
  TempDir program;
  ConfigStore c;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadConfiguration(c, MakeConfigLocations(0, program.path(), false)));
  // It says where it looked: the current folder first, then the installed copies.
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "Failed to initialize application! Please reinstall Quillmoor GSM Modem Driver!\n"
                "The template qmdriver.cfg was looked for in: " + program.path() + ", "),
            std::string::npos);
}

TEST_F(ConfigLocationsTest, SaveConfigurationFallsBackToUserFile) {
  // A file where the key store's folder should be makes the store unwritable.
  ASSERT_TRUE(MakeDirectories(home_.File("config")));
  WriteFile(home_.File("config") + "/quillmoor", "not a folder");
  TempDir program;
  WriteFile(program.File("qmdriver.cfg"), "a=1\n");
  const ConfigLocations where = MakeConfigLocations(0, program.path(), false);
  ConfigStore c;
  ASSERT_TRUE(LoadConfiguration(c, where));
  c.SetString("b", "2");
  ASSERT_TRUE(SaveConfiguration(c, where));
  EXPECT_EQ(ReadFile(where.userFile), "a=1\r\nb=2\r\n");
  EXPECT_EQ(ReadFile(program.File("qmdriver.cfg")), "a=1\n");  // the template is never written
}

}  // namespace
}  // namespace qm
