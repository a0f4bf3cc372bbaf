// The SMSMemory automation object, driven by python3-dbus against a driver
// on a scripted modem whose memories hold a few messages (one of them in two
// parts, at two locations).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/driver_process.h"
#include "tests/support/fake_modem.h"
#include "tests/support/private_bus.h"
#include "tests/support/received_pdus.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// The modem's memories: AT+CPMS= chooses the current one, AT+CMGL lists it
// (held while the hold file exists), AT+CMGD deletes from it.
const char* const kClient = R"(
import os, time
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib
NAME = 'org.quillmoor.GSM'
M = 'org.quillmoor.GSM.ISMSMemory'
factory = dbus.Interface(bus.get_object(NAME, '/org/quillmoor/GSM'), 'org.quillmoor.GSM.Factory')
def attempt(f):
    try:
        r = f()
        return 'ok' if r is None else str(r)
    except dbus.DBusException as e:
        return e.get_dbus_name().split('.')[-1] + ': ' + e.get_dbus_message()
def memory():
    path = factory.CreateObject('QuillmoorGSM.SMSMemory')
    obj = bus.get_object(NAME, path)
    return path, dbus.Interface(obj, M), dbus.Interface(obj, 'org.freedesktop.DBus.Properties')
def bodies(mem):
    return [str(bus.get_object(NAME, p).Get('org.quillmoor.GSM.ISMSMessage', 'Body',
                                            dbus_interface='org.freedesktop.DBus.Properties'))
            for p in mem._NewEnum()]

drv_path = factory.CreateObject('QuillmoorGSM.SMSDriver')
drv = dbus.Interface(bus.get_object(NAME, drv_path), 'org.quillmoor.GSM.ISMSDriver')
drv_props = dbus.Interface(bus.get_object(NAME, drv_path), 'org.freedesktop.DBus.Properties')
end = time.time() + 30
while attempt(lambda: drv_props.Get('org.quillmoor.GSM.ISMSDriver', 'ModemName')) != 'E3372' and time.time() < end:
    time.sleep(0.05)

path, mem, props = memory()
heard = []
listener = dbus.SessionBus(mainloop=DBusGMainLoop(), private=True)
listener.add_signal_receiver(lambda: heard.append('completed'), signal_name='Completed', path=path)
listener.add_signal_receiver(lambda e: heard.append('failed ' + str(e)), signal_name='Failed', path=path)
def hear(n):
    loop = GLib.MainLoop()
    GLib.timeout_add(20, lambda: len(heard) < n or loop.quit())
    GLib.timeout_add(20000, loop.quit)
    loop.run()
    return heard[:n]

print('type', props.Get(M, 'MemoryType'), attempt(lambda: props.Set(M, 'MemoryType', 'S"M\r')),
      attempt(lambda: props.Set(M, 'MemoryType', 'ME')), props.Get(M, 'MemoryType'))
print('sync', attempt(lambda: mem.ReadSync(dbus.UInt32(20), timeout=30)), props.Get(M, 'Count'), bodies(mem))
items = mem._NewEnum()
print('item', mem.Item(dbus.Int32(0)) == items[0], mem.Item(dbus.Byte(2)) == items[2],
      mem.Item(dbus.UInt64(1)) == items[1], attempt(lambda: mem.Item(dbus.Int32(3))),
      attempt(lambda: mem.Item(dbus.Int32(-1))), attempt(lambda: mem.Item('1')),
      attempt(lambda: mem.Item(dbus.Int64(2**32))))

# While one listing runs (the modem holds its answer) nobody starts another.
open(os.environ['HOLD'], 'w').close()
print('held', attempt(lambda: mem.ReadSync(dbus.UInt32(1), timeout=30)), attempt(mem.Read),
      attempt(lambda: memory()[1].ReadSync(dbus.UInt32(5))), props.Get(M, 'Count'))
os.remove(os.environ['HOLD'])
end = time.time() + 20
while attempt(mem.Read) == 'Failed: Already reading the memory' and time.time() < end:
    time.sleep(0.05)
print('read', hear(1), props.Get(M, 'Count'))

print('remove', attempt(lambda: mem.Remove(dbus.UInt32(1))), bodies(mem),
      attempt(lambda: mem.Remove(dbus.UInt32(2))))
props.Set(M, 'MemoryType', 'SM')
print('clear', attempt(mem.Clear), props.Get(M, 'Count'), list(mem._NewEnum()))
print('trigger', attempt(lambda: mem._TriggerEvent('oops')), attempt(lambda: mem._TriggerEvent('')), hear(3)[1:])

# A released memory takes its items along.
props.Set(M, 'MemoryType', 'ME')
other_path, other, _ = memory()
print('other', attempt(lambda: other.ReadSync(dbus.UInt32(20), timeout=30)), bodies(other))
item = other.Item(dbus.Int32(0))
factory.Release(other_path)
print('released', attempt(lambda: bus.get_object(NAME, item, introspect=False).Get(
    'org.quillmoor.GSM.ISMSMessage', 'Body', dbus_interface='org.freedesktop.DBus.Properties')).split(':')[0])

print('kept', attempt(lambda: mem.ReadSync(dbus.UInt32(20), timeout=30)), props.Get(M, 'Count'))
drv.Disconnect()
print('disconnected', attempt(mem.Read), attempt(lambda: mem.ReadSync(dbus.UInt32(5))),
      attempt(lambda: mem.Remove(dbus.UInt32(9))), attempt(mem.Clear), props.Get(M, 'Count'))
print(mem.Item(dbus.Int32(1)))
)";

TEST(AutomationSMSMemory, ListsRemovesAndClearsTheModemMemoryOneReaderAtATime) {
  test::PrivateBus bus;
  test::FakeModem modem;
  test::TempDir dir;
  const std::string hold = dir.path() + "/hold";
  test::SimulatedModem& sim = modem.Simulate();
  // Messages read before: the memory is the automation client's to look at.
  sim.Store("ME", 1, test::DeliverPdu("+4917011111", "First"), 1);
  sim.Store("ME", 4, test::DeliverPdu("+4917022222", "in two parts", false, test::PartOf{7, 2, 2}), 1);
  sim.Store("ME", 3, test::DeliverPdu("+4917022222", "Long message, ", false, test::PartOf{7, 2, 1}), 1);
  sim.Store("ME", 6, test::DeliverPdu("+4917033333", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", true), 1);
  sim.Store("SM", 2, test::DeliverPdu("+4917044444", "In the SIM"), 1);
  // While the hold file exists, a listing waits for it (at most 8 s).
  sim.BeforeListing([hold] {
    for (auto waited = 0ms; test::FileExists(hold) && waited < 8s; waited += 20ms) std::this_thread::sleep_for(20ms);
  });
  test::DriverSandbox box({{"modem.emulation", "0"}, {"modem.port", modem.SlavePath()}, {"receiver.memory", "SM"}});
  test::DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.log"), "Automation server on the session bus"))
      << test::ReadFile(box.UserFile("qmdriver.log"));

  test::ScopedEnv holdEnv("HOLD", hold);
  const test::ScriptResult result = test::RunPythonDbus(kClient);
  ASSERT_EQ(result.exitCode, 0) << result.output;
  const std::string output = result.output;
  const std::string lastItem = output.substr(output.rfind('\n', output.size() - 2) + 1);
  EXPECT_EQ(output.substr(0, output.size() - lastItem.size()),
            "type SM Failed: Invalid value ok ME\n"
            "sync ok 3 ['First', 'Long message, in two parts', '\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82']\n"
            "item True True True InvalidArg: Invalid value InvalidArg: Invalid value InvalidArg: Invalid value "
            "InvalidArg: Invalid value\n"
            "held Failed: Timeout Failed: Already reading the memory Failed: Already reading the memory 3\n"
            "read ['completed'] 3\n"
            "remove ok ['First', '\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82'] InvalidArg: Invalid value\n"
            "clear ok 0 []\n"
            "trigger ok ok ['failed oops', 'completed']\n"
            "other ok ['First', '\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82']\n"
            "released UnknownObject\n"
            "kept ok 2\n"
            "disconnected Failed: The modem can't be connected due to an error. Please disconnect the modem and try "
            "again. Failed: The modem can't be connected due to an error. Please disconnect the modem and try again. "
            "Failed: The modem can't be connected due to an error. Please disconnect the modem and try again. "
            "Failed: The modem can't be connected due to an error. Please disconnect the modem and try again. 2\n");

  // The reading memory was chosen first; the long message's two locations
  // went one by one, and Clear emptied the memory it selected again.
  const std::string sent = modem.Received();
  EXPECT_LT(sent.find("AT+CPMS=\"ME\"\r\n"), sent.find("AT+CMGL=4\r\n")) << sent;
  EXPECT_LT(sent.find("AT+CMGD=3\r\n"), sent.find("AT+CPMS=\"SM\",\"SM\",\"SM\"\r\n")) << sent;
  EXPECT_LT(sent.find("AT+CPMS=\"SM\",\"SM\",\"SM\"\r\n"), sent.find("AT+CMGD=1,4\r\n")) << sent;
  EXPECT_NE(sent.find("AT+CMGD=4\r\n"), std::string::npos) << sent;
  EXPECT_EQ(sim.StoredIndexes("ME"), (std::vector<int>{1, 6}));
  EXPECT_TRUE(sim.StoredIndexes("SM").empty());

  // The client has left: so has what it held.
  const std::string item = lastItem.substr(0, lastItem.size() - 1);
  const test::ScriptResult gone = test::RunPythonDbus("item = '" + item + "'\n" + R"(
import time
end = time.time() + 10
while time.time() < end:
    try:
        bus.get_object('org.quillmoor.GSM', item, introspect=False).Get(
            'org.quillmoor.GSM.ISMSMessage', 'Body', dbus_interface='org.freedesktop.DBus.Properties')
        time.sleep(0.05)
    except dbus.DBusException as e:
        print(e.get_dbus_name())
        break
)");
  EXPECT_EQ(gone.output, "org.freedesktop.DBus.Error.UnknownObject\n");
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
}

}  // namespace
}  // namespace qm
