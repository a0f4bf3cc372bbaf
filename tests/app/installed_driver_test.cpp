// The driver as a user installs and first meets it: "cmake --install" into a
// prefix, the switches a newcomer tries, and a start from a folder that holds
// no template.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <map>

#include "tests/support/driver_process.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::DriverProcess;
using test::DriverSandbox;
using test::ReadFile;

TEST(InstalledDriver, StartsFromAnyFolderOnTheInstalledTemplateAndExplainsItself) {
  test::TempDir prefix;
  const std::string install =
      "cmake --install '" + std::string(QM_BINARY_DIR) + "' --prefix '" + prefix.path() + "' > /dev/null";
  ASSERT_EQ(std::system(install.c_str()), 0);
  for (const char* file : {"bin/qmdriver", "bin/qmctl", "share/qmdriver/qmdriver.cfg",
                           "share/qmdriver/interfaces/org.quillmoor.GSM.ISMSDriver.xml",
                           "share/dbus-1/system.d/org.quillmoor.GSM.conf", "share/dbus-1/system-services/org.quillmoor.GSM.service",
                           "lib/systemd/system/qmdriver.service",
                           "lib/systemd/system/qmdriver@.service", "share/man/man1/qmdriver.1",
                           "share/man/man1/qmctl.1", "share/man/man5/qmdriver.cfg.5",
                           "share/bash-completion/completions/qmctl"}) {
    EXPECT_TRUE(test::FileExists(prefix.File(file))) << file;
  }
  // The settings page names every key of the template with its default.
  const std::string page = ReadFile(prefix.File("share/man/man5/qmdriver.cfg.5"));
  for (const char* entry : {".B modem.port\n", ".B sender.retries\n", ".B http.ca_file\n"}) {
    EXPECT_NE(page.find(entry), std::string::npos) << entry;
  }
  // Completion of qmctl's commands, actions and options (with a stand-in for
  // bash-completion's set-up helper).
  test::WriteFile(prefix.File("complete.sh"),
                  "source \"$1\"\n"
                  "_init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]};\n"
                  "  words=(\"${COMP_WORDS[@]}\"); cword=$COMP_CWORD; }\n"
                  "line() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _qmctl; echo \"${COMPREPLY[*]}\"; }\n"
                  "line qmctl mem; line qmctl --instance 2 memory r; line qmctl send --fl; line qmctl config p\n"
                  "PATH=\"$2:$PATH\"; cd /; line qmctl config set modem.po\n");
  const std::string completed = prefix.File("completed.txt");
  ASSERT_EQ(std::system(("bash '" + prefix.File("complete.sh") + "' '" +
                         prefix.File("share/bash-completion/completions/qmctl") + "' '" + prefix.File("bin") + "' > '" + completed +
                         "'")
                            .c_str()),
            0);
  EXPECT_EQ(ReadFile(completed), "memory\nread remove\n--flash\nport\nmodem.port\n");
  const std::string installed = prefix.File("bin/qmdriver");
  DriverSandbox box(std::map<std::string, std::string>{{"status.time", "1"}});

  // The switches print and end before anything starts.
  DriverProcess help(box, {"--help"}, {}, installed);
  EXPECT_EQ(help.WaitExit(10s), 0);
  EXPECT_EQ(help.Stdout().rfind("Usage: qmdriver [switch...]\n", 0), 0u) << help.Stdout();
  EXPECT_NE(help.Stdout().find("  -instN "), std::string::npos);
  DriverProcess version(box, {"-V"}, {}, installed);
  EXPECT_EQ(version.WaitExit(10s), 0);
  EXPECT_EQ(version.Stdout(), "qmdriver " QM_VERSION "\n");
  EXPECT_FALSE(test::FileExists(box.UserFile("qmdriver.log")));

  // Started in a folder without a template: the built driver says where it
  // looked; the installed one takes its own and runs on the emulator.
  test::TempDir elsewhere;
  DriverProcess lost(box, {"-noicon"}, {}, QM_QMDRIVER_PATH, elsewhere.path());
  lost.WaitExit(20s);
  EXPECT_NE(lost.Stderr().find("The template qmdriver.cfg was looked for in: " + elsewhere.path() + ", "),
            std::string::npos)
      << lost.Stderr();
  DriverProcess driver(box, {"-noicon"}, {}, installed, elsewhere.path());
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.status"), "port: Emulator; state:ready"))
      << ReadFile(box.UserFile("qmdriver.log")) << driver.Stderr();
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
  EXPECT_EQ(driver.Stdout(), "");  // output redirected: nothing to say
}

// Started by hand in a terminal, the driver says once what it runs on, where
// its files are and how to stop it.
TEST(InstalledDriver, StartedInATerminalItSaysWhereItIs) {
  DriverSandbox box(std::map<std::string, std::string>{{"status.time", "1"}});
  DriverProcess driver(box, {"-noicon", "-inst2"}, {}, QM_QMDRIVER_PATH, {}, true);
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.2.status"), "state:ready"))
      << ReadFile(box.UserFile("qmdriver.2.log"));
  const std::string said = driver.Stdout();
  EXPECT_NE(said.find("Quillmoor GSM Modem Driver " QM_VERSION " instance 2 is running on the built-in emulator."),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("  log:     " + box.UserFile("qmdriver.2.log")), std::string::npos) << said;
  EXPECT_NE(said.find("  status:  " + box.UserFile("qmdriver.2.status")), std::string::npos) << said;
  EXPECT_NE(said.find("Ask it with \"qmctl status --instance 2\"; stop it with Ctrl+C."), std::string::npos) << said;
  driver.Signal(SIGINT);
  EXPECT_EQ(driver.WaitExit(20s), 0);
}

}  // namespace
}  // namespace qm
