#include "app/status_file.h"

#include <gtest/gtest.h>

#include "base/config_store.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::ReadFile;

StatusSnapshot Sample(unsigned instance = 0) {
  StatusSnapshot s;
  s.instance = instance;
  s.pid = 4242;
  s.linkState = LinkStatus::kReady;
  s.outboxRows = 3;
  s.failures = 10;
  s.time = LocalTime{5, 3, 2026, 7, 8, 9, 45};
  return s;
}

TEST(StatusFile, LineFormat) {
  EXPECT_EQ(FormatStatusLine(Sample(), "ttyUSB0"),
            "updated: 05-03-2026 07:08:09.045; hwnd: 00000000; pid: 4242; instance: 0; port: ttyUSB0; "
            "state:ready; outbox:3; errors:10");
  StatusSnapshot s = Sample();
  s.linkState = LinkStatus::kError;
  EXPECT_NE(FormatStatusLine(s, "").find("port: ; state:error;"), std::string::npos);
}

TEST(StatusFile, ExpandedPathWholeLineReplacedFailuresSilent) {
  test::TempDir dir;
  test::ScopedEnv appdata("XDG_CONFIG_HOME", dir.path());
  ConfigStore config;
  config.SetString("status.file", "%appdata%/qm.status");
  config.SetString("modem.port", "Emulator");
  test::WriteFile(dir.File("qm.status"), std::string(500, 'x'));  // a longer old line
  int saves = 0;
  ASSERT_TRUE(WriteStatusFile(config, Sample(), [&] { ++saves; }));
  EXPECT_EQ(ReadFile(dir.File("qm.status")), FormatStatusLine(Sample(), "Emulator"));
  EXPECT_EQ(saves, 0);

  config.SetString("status.file", "");
  EXPECT_FALSE(WriteStatusFile(config, Sample(), {}));
  config.SetString("status.file", dir.File("missing/qm.status"));
  EXPECT_FALSE(WriteStatusFile(config, Sample(), {}));
}

TEST(StatusFile, InstanceRenamingIsStoredOnce) {
  test::TempDir dir;
  ConfigStore config;
  config.SetString("status.file", dir.File("qmdriver.status"));
  int saves = 0;
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(WriteStatusFile(config, Sample(2), [&] { ++saves; }));
  EXPECT_EQ(config.GetString("status.file"), dir.File("qmdriver.2.status"));
  EXPECT_EQ(saves, 1);
  EXPECT_NE(ReadFile(dir.File("qmdriver.2.status")).find("instance: 2;"), std::string::npos);
  EXPECT_FALSE(test::FileExists(dir.File("qmdriver.status")));
}

}  // namespace
}  // namespace qm
