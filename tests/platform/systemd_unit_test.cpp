#include "platform/systemd_unit.h"

#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;

bool Logged(const ServiceResult& r, const std::string& text) {
  for (const auto& line : r.log) {
    if (line.text == text && line.level == LogLevel::kError) return true;
  }
  return false;
}

TEST(SystemdUnit, InstallWritesTheUnitUninstallRemovesIt) {
  TempDir dir;
  ScopedEnv units("QMDRIVER_SYSTEMD_DIR", dir.path());
  const ServiceUnitRequest request{"qmdriver_3", 3, "/opt/qm 100%/qmdriver", "/srv/qm"};
  ASSERT_TRUE(InstallService(request).ok);
  const std::string unit = ReadFile(dir.File("qmdriver_3.service"));
  EXPECT_NE(unit.find("\nDescription=qmdriver_3\n"), std::string::npos);
  EXPECT_NE(unit.find("\nExecStart=\"/opt/qm 100%%/qmdriver\" -service -inst3\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nWorkingDirectory=/srv/qm\n"), std::string::npos);
  EXPECT_NE(unit.find("\nWantedBy=multi-user.target\n"), std::string::npos);

  // Installing twice fails like an existing service and keeps the unit.
  EXPECT_TRUE(Logged(InstallService(request), "CreateService failed, error code 1073"));
  EXPECT_TRUE(UninstallService("qmdriver_3").ok);
  EXPECT_FALSE(test::FileExists(dir.File("qmdriver_3.service")));
  EXPECT_TRUE(Logged(UninstallService("qmdriver_3"), "OpenService failed, error code 1060"));

  // Without an explicit executable this process's absolute path is used.
  ASSERT_TRUE(InstallService({"qmdriver", 0, "", "/srv"}).ok);
  EXPECT_NE(ReadFile(dir.File("qmdriver.service")).find("ExecStart=\"/"), std::string::npos);
}

TEST(SystemdUnit, QuotingAndInjectedLines) {
  std::string text;
  ASSERT_TRUE(MakeServiceUnitText({"qmdriver", 0, "", "/srv"}, "/usr/bin/qm\"d\\$x", text));
  EXPECT_NE(text.find("\nExecStart=\"/usr/bin/qm\\\"d\\\\$$x\" -service\n"), std::string::npos) << text;
  TempDir dir;
  ScopedEnv units("QMDRIVER_SYSTEMD_DIR", dir.path());
  const ServiceResult bad = InstallService({"qmdriver", 0, "/usr/bin/qm", "/srv\nExecStartPre=/bin/evil"});
  EXPECT_TRUE(Logged(bad, "CreateService failed, error code 123"));
  EXPECT_FALSE(test::FileExists(dir.File("qmdriver.service")));
}

TEST(SystemdUnit, UnreachableUnitFolderIsTheServiceManagerFailing) {
  TempDir dir;
  ScopedEnv units("QMDRIVER_SYSTEMD_DIR", dir.File("missing"));
  const ServiceResult r = InstallService({"qmdriver", 0, "/usr/bin/qm", "/srv"});
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(Logged(r, "OpenSCManager failed, error code 2"));
  EXPECT_TRUE(Logged(UninstallService("qmdriver"), "OpenSCManager failed, error code 2"));
}

}  // namespace
}  // namespace qm
