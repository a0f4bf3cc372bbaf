// The SMSDriver automation object, driven by python3-dbus against a running
// driver on a private bus; and the observer lists it is called through.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "com/status_observers.h"
#include "platform/key_store.h"
#include "tests/support/driver_process.h"
#include "tests/support/private_bus.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// The prelude of every client script: an SMSDriver object and helpers that
// print a property, or the error a put or a call ends with.
const char* const kClientPrelude = R"(
import time
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib
I = 'org.quillmoor.GSM.ISMSDriver'
factory = dbus.Interface(bus.get_object('org.quillmoor.GSM', '/org/quillmoor/GSM'), 'org.quillmoor.GSM.Factory')
path = factory.CreateObject('QuillmoorGSM.SMSDriver')
obj = bus.get_object('org.quillmoor.GSM', path)
drv = dbus.Interface(obj, I)
props = dbus.Interface(obj, 'org.freedesktop.DBus.Properties')
def attempt(f):
    try:
        r = f()
        if isinstance(r, dbus.Boolean):
            return str(bool(r))
        return 'ok' if r is None else str(int(r) if isinstance(r, dbus.Byte) else r)
    except dbus.DBusException as e:
        return e.get_dbus_name().split('.')[-1] + ': ' + e.get_dbus_message()
def get(name):
    return attempt(lambda: props.Get(I, name))
def put(name, value):
    return attempt(lambda: props.Set(I, name, value))
def wait_for(name, value, limit=20):
    end = time.time() + limit
    while get(name) != value and time.time() < end:
        time.sleep(0.05)
    return get(name)
)";

std::map<std::string, std::string> SavedSettings(const test::DriverSandbox& box) {
  const std::string file = box.Home() + "/config/quillmoor/registry/Software/Quillmoor SMS/Quillmoor GSM Driver.reg";
  std::map<std::string, std::string> values;
  for (KeyValue& value : ParseKeyValues(test::ReadFile(file))) values[value.name] = std::move(value.data);
  return values;
}

TEST(AutomationSMSDriver, SettingsStatusEventsAndRawCommandsOnTheEmulator) {
  test::PrivateBus bus;
  // A stored delete mode outside its table.
  test::DriverSandbox box(std::map<std::string, std::string>{{"sender.delete_mode", "9"}});
  test::DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.log"), "Automation server on the session bus"))
      << test::ReadFile(box.UserFile("qmdriver.log"));

  const test::ScriptResult result = test::RunPythonDbus(std::string(kClientPrelude) + R"(
print('status', wait_for('StatusStr', 'ready'), get('StatusCode'))
print('modem', get('ModemName'), int(get('SignalStrength')) > 0)
print('pid', get('PID') == ')" + std::to_string(driver.pid()) +
                                                        R"(', 'errors', get('ErrorNum'), get('OutboxSize'))

# Events reach a receiver on a connection of its own.
heard = []
listener = dbus.SessionBus(mainloop=DBusGMainLoop(), private=True)
listener.add_signal_receiver(lambda *a: heard.append(('status',) + tuple(int(x) for x in a)),
                             signal_name='SMSStatusChanged', path=path)
listener.add_signal_receiver(lambda t, c, r: heard.append(('ussd', str(t), int(c), str(r))),
                             signal_name='USSDReply', path=path)
drv._ChangeSMSStatus(dbus.UInt32(7), dbus.UInt32(4))
drv._DeliverUSSDReply('Your balance', dbus.UInt32(1), '*100#')
loop = GLib.MainLoop()
GLib.timeout_add(100, lambda: len(heard) < 2 or loop.quit())
GLib.timeout_add(10000, loop.quit)
loop.run()
print('heard', heard)

# Connect is a no-op while ready; a round trip ends ready again.
print('connect', attempt(drv.Connect), attempt(drv.OpenConfigWizard), get('StatusStr'))
print('disconnect', attempt(drv.Disconnect), get('StatusStr'), get('StatusCode'), get('ErrorCode'),
      repr(get('ErrorStr')))
print('reconnect', attempt(drv.Connect), wait_for('StatusStr', 'ready'))

# Raw AT commands: the answer goes to the log.
print('at', attempt(lambda: drv.SendAT('AT+QMPROBE=1')), attempt(lambda: drv.SendAT('AT+QMPROBE=2\n')),
      attempt(lambda: drv.SendAT('')))

# Settings.
print('timeout', put('Timeout', dbus.UInt32(0)), put('Timeout', dbus.UInt32(5)), get('Timeout'))
print('sendmode', put('SendMode', 'PDU'), get('SendMode'), put('SendMode', 'binary'), get('SendMode'))
print('parity', put('Parity', 'Even'), get('Parity'), put('Parity', 'odd '))
print('deletemode', get('DeleteMode'), put('DeleteMode', 'ALL'), get('DeleteMode'))
print('readmode', get('ReadMode'), put('ReadMode', 'polling'), get('ReadMode'))
print('polling', put('PollingTime', dbus.UInt32(45)), get('PollingTime'), put('PollingMemory', 'ME'),
      get('PollingMemory'))
print('numbers', put('DataBits', dbus.Byte(7)), get('DataBits'), put('StopBits', dbus.Byte(2)), get('StopBits'),
      put('ModemChecks', dbus.UInt32(4097)), get('ModemChecks'), put('DeleteAfter', dbus.UInt32(3)), get('DeleteAfter'),
      put('Advanced', True), get('Advanced'))
for i in range(21):
    put('PortName', 'ttyQ%d' % i)
print('ports', put('PortName', 'ttyQ5'), put('PortName', ''), get('PortName'))
print('baud', put('BaudRate', dbus.UInt32(57600)), get('BaudRate'))
)");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(result.output,
            "status ready 1\n"
            "modem Emulator True\n"
            "pid True errors 0 0\n"
            "heard [('status', 7, 4), ('ussd', 'Your balance', 1, '*100#')]\n"
            "connect ok ok ready\n"
            "disconnect ok disconnected 0 0 ''\n"
            "reconnect ok ready\n"
            "at ok ok ok\n"
            "timeout Failed: Invalid value ok 5\n"
            "sendmode ok pdu Failed: Invalid value pdu\n"
            "parity ok even Failed: Invalid value\n"
            "deletemode Failed: Error in configuration file ok all\n"
            "readmode index ok polling\n"
            "polling ok 45 ok ME\n"
            "numbers ok 7 ok 2 ok 4097 ok 3 ok True\n"
            "ports ok ok ttyQ5\n"
            "baud ok 57600\n");

  EXPECT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.log"), "Sent: AT+QMPROBE=1"));
  EXPECT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.log"), "Sent: AT+QMPROBE=2"));

  // What the puts saved (BaudRate saved last, with the unsaved names).
  std::map<std::string, std::string> saved = SavedSettings(box);
  EXPECT_EQ(saved["sender.timeout"], "5000");
  EXPECT_EQ(saved["sender.send_mode"], "0");
  EXPECT_EQ(saved["modem.parity"], "2");
  EXPECT_EQ(saved["sender.delete_mode"], "2");
  EXPECT_EQ(saved["receiver.polling_time"], "45");
  EXPECT_EQ(saved["modem.baudrate"], "57600");
  EXPECT_EQ(saved["modem.port"], "ttyQ5");
  // Twenty-one names: the first fell off; naming one of them again only
  // moves the current slot.
  EXPECT_EQ(saved["port.0.name"], "ttyQ20");
  EXPECT_EQ(saved["port.19.name"], "ttyQ1");
  EXPECT_EQ(saved.count("port.20.name"), 0u);
  EXPECT_EQ(saved["port.15.name"], "ttyQ5");
  EXPECT_EQ(saved["port.cur"], "15");

  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
}

TEST(AutomationSMSDriver, AFailedConnectKeepsTheSystemErrorUntilDisconnect) {
  test::PrivateBus bus;
  test::DriverSandbox box(std::map<std::string, std::string>{
      {"modem.emulation", "0"}, {"modem.port", "/nonexistent/qmtty"}, {"start.connect", "0"}});
  test::DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.log"), "Automation server on the session bus"))
      << test::ReadFile(box.UserFile("qmdriver.log"));

  const test::ScriptResult result = test::RunPythonDbus(std::string(kClientPrelude) + R"(
print('before', get('StatusStr'), get('ModemName'), get('SignalStrength'), repr(get('ErrorStr')))
print('connect', attempt(drv.Connect), get('StatusCode'), get('ErrorCode'), get('ErrorStr'))
print('again', attempt(drv.Connect))
print('wizard', attempt(drv.OpenConfigWizard))
other = dbus.Interface(bus.get_object('org.quillmoor.GSM', factory.CreateObject('QuillmoorGSM.SMSDriver.1')), I)
print('other', dbus.Interface(other, 'org.freedesktop.DBus.Properties').Get(I, 'ErrorCode'))
print('disconnect', attempt(drv.Disconnect), get('StatusStr'), get('ErrorCode'), repr(get('ErrorStr')))
)");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(result.output,
            "before disconnected Failed: The modem is not configured Failed: The modem is not configured ''\n"
            "connect Failed: No such file or directory 4 2 No such file or directory\n"
            "again Failed: The modem can't be connected due to an error. Please disconnect the modem and try "
            "again.\n"
            "wizard Failed: The modem can't be connected due to an error. Please disconnect the modem and try "
            "again.\n"
            "other 0\n"
            "disconnect ok disconnected 0 ''\n");
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
}

struct Delivery {
  std::string observer;
  int32_t id;
  MessageStatus status;
  bool operator==(const Delivery&) const = default;
};

TEST(StatusObservers, AnIdLeavesItsObserverWhenItsStoryEndsAndAGoneObserverLeavesAtOnce) {
  std::vector<Delivery> calls;
  std::vector<std::string> replies;
  std::vector<std::string> gone = {"/C", "/Y"};
  auto alive = [&gone](const std::string& o) { return std::find(gone.begin(), gone.end(), o) == gone.end(); };
  StatusObservers observers(
      [&](const std::string& o, int32_t id, MessageStatus s) {
        calls.push_back({o, id, s});
        return alive(o);
      },
      [&](const std::string& o, const std::string& text, uint32_t code, const std::string& recipient) {
        replies.push_back(o + " " + text + " " + std::to_string(code) + " " + recipient);
        return alive(o);
      });
  observers.Trace("/A", 1, false);
  observers.Trace("/A", 2, true);
  observers.Trace("/B", 1, true);
  observers.Trace("/A", 1, true);  // already traced: stays without a report

  observers.StatusChanged(1, MessageStatus::kPending);
  observers.StatusChanged(1, MessageStatus::kSent);       // /A is done with 1
  observers.StatusChanged(1, MessageStatus::kDelivered);  // /B is done with 1, and so gone
  EXPECT_EQ(observers.StatusObserverCount(), 1u);
  observers.StatusChanged(2, MessageStatus::kFailed);        // a report was asked for: kept
  observers.StatusChanged(2, MessageStatus::kNotDelivered);  // over
  observers.StatusChanged(2, MessageStatus::kDelivered);     // nobody traces it any more
  EXPECT_EQ(observers.StatusObserverCount(), 0u);
  observers.Trace("/C", 3, true);
  observers.Trace("/C", 4, true);
  observers.StatusChanged(3, MessageStatus::kPending);  // /C was released: forgotten with all it traced
  observers.StatusChanged(4, MessageStatus::kSent);
  EXPECT_EQ(observers.StatusObserverCount(), 0u);
  EXPECT_EQ(calls, (std::vector<Delivery>{{"/A", 1, MessageStatus::kPending},
                                          {"/B", 1, MessageStatus::kPending},
                                          {"/A", 1, MessageStatus::kSent},
                                          {"/B", 1, MessageStatus::kSent},
                                          {"/B", 1, MessageStatus::kDelivered},
                                          {"/A", 2, MessageStatus::kFailed},
                                          {"/A", 2, MessageStatus::kNotDelivered},
                                          {"/C", 3, MessageStatus::kPending}}));

  observers.AddUssdObserver("/X");
  observers.AddUssdObserver("/Y");
  observers.AddUssdObserver("/X");
  observers.UssdReplied("balance", 0, "*100#");
  observers.UssdReplied("again", 2, "");
  EXPECT_EQ(replies, (std::vector<std::string>{"/X balance 0 *100#", "/Y balance 0 *100#", "/X again 2 "}));
  observers.Forget("/X");
  EXPECT_EQ(observers.UssdObserverCount(), 0u);
}

TEST(StatusObserversConcurrent, RegistrationsAndReportsFromSeveralThreads) {
  std::atomic<int> delivered{0};
  StatusObservers observers(
      [&](const std::string& o, int32_t, MessageStatus) {
        ++delivered;
        return o != "/gone";
      },
      [&](const std::string&, const std::string&, uint32_t, const std::string&) {
        ++delivered;
        return true;
      });
  constexpr int kRounds = 2000;
  std::latch start(2);
  std::thread registering([&] {
    start.arrive_and_wait();
    for (int i = 0; i < kRounds; ++i) {
      observers.Trace(i % 2 ? "/a" : "/gone", i % 50, i % 3 == 0);
      observers.AddUssdObserver("/u" + std::to_string(i % 5));
      if (i % 7 == 0) observers.Forget("/a");
    }
  });
  std::thread reporting([&] {
    start.arrive_and_wait();
    for (int i = 0; i < kRounds; ++i) {
      observers.StatusChanged(i % 50, static_cast<MessageStatus>(2 + i % 4));
      if (i % 10 == 0) observers.UssdReplied("r", 0, "");
    }
  });
  registering.join();
  reporting.join();
  // Whatever the interleaving, a final report ends every story.
  for (int id = 0; id < 50; ++id) observers.StatusChanged(id, MessageStatus::kDelivered);
  EXPECT_EQ(observers.StatusObserverCount(), 0u);
  EXPECT_EQ(observers.UssdObserverCount(), 5u);
  const int before = delivered.load();
  observers.UssdReplied("r", 0, "");
  EXPECT_EQ(delivered.load(), before + 5);
}

}  // namespace
}  // namespace qm
