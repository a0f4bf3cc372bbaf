#include "app/instance_names.h"

#include <gtest/gtest.h>

#include "app/config_locations.h"

namespace qm {
namespace {

TEST(InstanceNames, MutexApplicationTitleAndSubkey) {
  EXPECT_EQ(MutexName(0), "5d0c7e21-94ab-4c3f-8e62-a17b39f0c254");
  EXPECT_EQ(MutexName(1), "5d0c7e21-94ab-4c3f-8e62-a17b39f0c255");
  EXPECT_EQ(MutexName(3), "5d0c7e21-94ab-4c3f-8e62-a17b39f0c257");
  EXPECT_EQ(MutexName(9999), "5d0c7e21-94ab-4c3f-8e62-a17b39f0e963");
  EXPECT_EQ(ApplicationName(0), "qmdriver");
  EXPECT_EQ(ApplicationName(3), "qmdriver_3");
  EXPECT_EQ(TitleSuffix(0), "");
  EXPECT_EQ(TitleSuffix(3), " instance 3");
  EXPECT_EQ(MakeConfigLocations(3, "/opt/qm", false).subkey, "Software\\Quillmoor SMS\\Quillmoor GSM Driver 3");
}

TEST(InstanceNames, LogPath) {
  EXPECT_EQ(InstanceLogPath("x.log", 0), "x.log");
  EXPECT_EQ(InstanceLogPath("x.log", 3), "x.3.log");
  EXPECT_EQ(InstanceLogPath("x.3.log", 3), "x.3.log");  // already numbered
  EXPECT_EQ(InstanceLogPath("/var/log/qm/x.2.log", 3), "/var/log/qm/x.2.3.log");
  EXPECT_EQ(InstanceLogPath("/var/log/x.12.log", 12), "/var/log/x.12.log");
  EXPECT_EQ(InstanceLogPath("/var/log/x.log", 12), "/var/log/x.12.log");
  // Too short for a stem and an extension: the number is appended.
  EXPECT_EQ(InstanceLogPath("", 3), "");  // no log for any instance
  EXPECT_EQ(InstanceLogPath("log", 3), "log.3");
  EXPECT_EQ(InstanceLogPath("/var/.log", 3), "/var/.log.3");
  EXPECT_EQ(InstanceLogPath("/d/a.log", 3), "/d/a.3.log");
}

TEST(InstanceNames, StatusPathRenamedOnce) {
  EXPECT_EQ(InstanceStatusPath("/q/qmdriver.status", 0), std::nullopt);
  EXPECT_EQ(InstanceStatusPath("/q/qmdriver.status", 2), "/q/qmdriver.2.status");
  EXPECT_EQ(InstanceStatusPath("/q/qmdriver.2.status", 2), std::nullopt);  // later starts keep it
  EXPECT_EQ(InstanceStatusPath("/q/other.status", 2), std::nullopt);
  EXPECT_EQ(InstanceStatusPath("qmdriver.status", 15), "qmdriver.15.status");
  EXPECT_EQ(InstanceStatusPath("status", 2), std::nullopt);
}

}  // namespace
}  // namespace qm
