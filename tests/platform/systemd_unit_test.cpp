#include "platform/systemd_unit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;

std::vector<std::string> Texts(const ServiceResult& r) {
  std::vector<std::string> out;
  for (const auto& line : r.log) out.push_back(line.text);
  return out;
}

bool Logged(const ServiceResult& r, const std::string& text, int level = 2) {
  for (const auto& line : r.log) {
    if (line.text == text && line.level == level) return true;
  }
  return false;
}

TEST(SystemdUnit, InstallWritesTheUnitUninstallRemovesIt) {
  TempDir dir;
  ScopedEnv units("QMDRIVER_SYSTEMD_DIR", dir.path());
  const ServiceUnitRequest request{"qmdriver_3", 3, "/opt/qm 100%/qmdriver", "/srv/qm $HOME"};
  const ServiceResult installed = InstallService(request);
  ASSERT_TRUE(installed.ok) << testing::PrintToString(Texts(installed));
  const std::string unit = ReadFile(dir.File("qmdriver_3.service"));
  EXPECT_NE(unit.find("\nDescription=qmdriver_3\n"), std::string::npos);
  EXPECT_NE(unit.find("\nExecStart=\"/opt/qm 100%%/qmdriver\" -service -inst3\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nWorkingDirectory=/srv/qm $HOME\n"), std::string::npos);
  EXPECT_NE(unit.find("\nRestart=on-failure\n"), std::string::npos);
  EXPECT_NE(unit.find("\nWantedBy=multi-user.target\n"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(dir.File("qmdriver_3.service").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  // Installing twice fails like an existing service and keeps the unit.
  const ServiceResult again = InstallService(request);
  EXPECT_FALSE(again.ok);
  EXPECT_TRUE(Logged(again, "CreateService failed, error code 1073"));

  EXPECT_TRUE(UninstallService("qmdriver_3").ok);
  EXPECT_FALSE(test::FileExists(dir.File("qmdriver_3.service")));
  const ServiceResult missing = UninstallService("qmdriver_3");
  EXPECT_FALSE(missing.ok);
  EXPECT_TRUE(Logged(missing, "OpenService failed, error code 1060"));
}

TEST(SystemdUnit, CommandLineOfInstanceZeroAndQuoting) {
  std::string text;
  ASSERT_TRUE(MakeServiceUnitText({"qmdriver", 0, "", "/srv"}, "/usr/bin/qm\"d\\$x", text));
  EXPECT_NE(text.find("\nExecStart=\"/usr/bin/qm\\\"d\\\\$$x\" -service\n"), std::string::npos) << text;
  EXPECT_FALSE(MakeServiceUnitText({"qmdriver", 0, "", "/srv\nExecStartPre=/bin/evil"}, "/usr/bin/qm", text));
}

TEST(SystemdUnit, FailuresNameTheServiceManagerCall) {
  TempDir dir;
  {
    ScopedEnv units("QMDRIVER_SYSTEMD_DIR", dir.File("missing"));
    const ServiceResult r = InstallService({"qmdriver", 0, "/usr/bin/qm", "/srv"});
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(Logged(r, "OpenSCManager failed, error code 2"));
    EXPECT_TRUE(Logged(UninstallService("qmdriver"), "OpenSCManager failed, error code 2"));
  }
  ScopedEnv units("QMDRIVER_SYSTEMD_DIR", dir.path());
  const ServiceResult bad = InstallService({"qmdriver", 0, "/usr/bin/qm", "/srv\nX=1"});
  EXPECT_TRUE(Logged(bad, "CreateService failed, error code 123"));
  EXPECT_FALSE(test::FileExists(dir.File("qmdriver.service")));
  // Without an explicit executable, this process's own absolute path is used.
  ASSERT_TRUE(InstallService({"qmdriver", 0, "", "/srv"}).ok);
  EXPECT_NE(ReadFile(dir.File("qmdriver.service")).find("ExecStart=\"/"), std::string::npos);
}

}  // namespace
}  // namespace qm
