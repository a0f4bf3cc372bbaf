// The automation factory on a private bus, driven by python3-dbus: ProgIDs,
// object ownership, and what a client that leaves leaves behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <map>
#include <string>

#include "tests/support/driver_process.h"
#include "tests/support/private_bus.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

TEST(AutomationFactory, CreatesByProgIdRefusesStrangersAndFreesWhatALeavingClientHeld) {
  test::PrivateBus bus;
  test::DriverSandbox box(std::map<std::string, std::string>{{"status.time", "1"}});
  test::DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.log"), "Automation server on the session bus"))
      << test::ReadFile(box.UserFile("qmdriver.log"));
  const test::ScriptResult result = test::RunPythonDbus(R"(
factory = dbus.Interface(bus.get_object('org.quillmoor.GSM', '/org/quillmoor/GSM'), 'org.quillmoor.GSM.Factory')
for progid in ['QuillmoorGSM.Nothing', 'quillmoorgsm.smsdriver', '', 'QuillmoorGSM.SMSDriver.2']:
    try:
        factory.CreateObject(progid)
        print('created', progid)
    except dbus.DBusException as e:
        print(e.get_dbus_name(), e.get_dbus_message())
try:
    factory.Release(dbus.ObjectPath('/org/quillmoor/GSM/SMSDriver/999'))
except dbus.DBusException as e:
    print(e.get_dbus_name(), e.get_dbus_message())
)");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(result.output,
            "org.quillmoor.GSM.Error.InvalidArg Invalid value\n"
            "org.quillmoor.GSM.Error.InvalidArg Invalid value\n"
            "org.quillmoor.GSM.Error.InvalidArg Invalid value\n"
            "org.quillmoor.GSM.Error.InvalidArg Invalid value\n"
            "org.quillmoor.GSM.Error.InvalidArg Invalid value\n");
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
}

TEST(AutomationRegistration, RegServerInstallsActivationAndInterfaceFilesAndUnregServerRemovesThem) {
  test::DriverSandbox box;
  const std::string dbus = box.Home() + "/.local/share/dbus-1";
  for (const char* instance : {"-inst2", "-inst0"}) {
    test::DriverProcess reg(box, {instance, "-RegServer"});  // the switch ends the command line
    EXPECT_EQ(reg.WaitExit(20s), 0);
  }
  EXPECT_EQ(test::ReadFile(dbus + "/services/org.quillmoor.GSM.Instance2.service"),
            "[D-BUS Service]\nName=org.quillmoor.GSM.Instance2\nExec=" + std::string(QM_QMDRIVER_PATH) +
                " -noicon -inst2\n");
  EXPECT_NE(test::ReadFile(dbus + "/services/org.quillmoor.GSM.service").find("Name=org.quillmoor.GSM\n"),
            std::string::npos);
  EXPECT_NE(test::ReadFile(dbus + "/interfaces/org.quillmoor.GSM.ISMSDriver.xml")
                .find("<method name=\"SendAT\">"),
            std::string::npos);
  // The interface files stay while another instance is registered.
  test::DriverProcess unreg(box, {"-UnregServer"});
  EXPECT_EQ(unreg.WaitExit(20s), 0);
  EXPECT_FALSE(test::FileExists(dbus + "/services/org.quillmoor.GSM.service"));
  EXPECT_TRUE(test::FileExists(dbus + "/interfaces/org.quillmoor.GSM.ISMSMemory.xml"));
  test::DriverProcess last(box, {"-inst2", "-unreg"});
  EXPECT_EQ(last.WaitExit(20s), 0);
  EXPECT_FALSE(test::FileExists(dbus + "/services/org.quillmoor.GSM.Instance2.service"));
  EXPECT_FALSE(test::FileExists(dbus + "/interfaces/org.quillmoor.GSM.ISMSMemory.xml"));
}

}  // namespace
}  // namespace qm
