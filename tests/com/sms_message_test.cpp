// SMSMessage and USSDRequest automation objects, driven by python3-dbus
// clients against a driver on its emulator: sending, the status the tables
// give, synchronous sends answered from the waiter thread while the bus
// keeps serving, USSD replies to waiters and observers, and what a call
// still waiting gets when the driver stops.
#include <gtest/gtest.h>
#include <signal.h>

#include <map>
#include <string>

#include "tests/support/driver_process.h"
#include "tests/support/private_bus.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

const char* const kScript = R"(
import os, signal, time
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib
M = 'org.quillmoor.GSM.ISMSMessage'
U = 'org.quillmoor.GSM.IUSSDRequest'
D = 'org.quillmoor.GSM.ISMSDriver'

def attempt(f):
    try:
        r = f()
        return 'ok' if r is None else str(r)
    except dbus.DBusException as e:
        return e.get_dbus_name().split('.')[-1] + ': ' + e.get_dbus_message()

class Obj:
    def __init__(self, conn, cls, iface):
        factory = dbus.Interface(conn.get_object('org.quillmoor.GSM', '/org/quillmoor/GSM'),
                                 'org.quillmoor.GSM.Factory')
        self.path = factory.CreateObject('QuillmoorGSM.' + cls)
        o = conn.get_object('org.quillmoor.GSM', self.path)
        self.i = dbus.Interface(o, iface)
        self.p = dbus.Interface(o, 'org.freedesktop.DBus.Properties')
        self.iface = iface
    def get(self, name):
        return attempt(lambda: self.p.Get(self.iface, name))
    def put(self, name, value):
        return attempt(lambda: self.p.Set(self.iface, name, value))

def wait_for(obj, name, value, limit=30):
    end = time.time() + limit
    while obj.get(name) != value and time.time() < end:
        time.sleep(0.1)
    return obj.get(name)

# ---- a message on its own: defaults, coding, Send's refusals, the status the tables give
m = Obj(bus, 'SMSMessage', M)
print('new', int(m.get('ID')) > 0, m.get('Flags'), int(m.get('Expired')) - int(m.get('Timestamp')),
      abs(int(m.get('Timestamp')) - time.time()) < 5, m.get('StatusCode'), m.get('StatusStr'), m.get('ReferenceID'))
m.put('Body', 'x' * 161)
seg161 = m.get('SegmentNumber')
m.put('Body', 'caf\u00e9')
ucs2 = m.get('Coding')
m.put('URL', 'http://example.com/si')
print('coding', seg161, ucs2, m.get('Coding'))
m.put('URL', '')
print('no recipient', attempt(m.i.Send))
m.put('To', '+15550001')
m.put('Body', 'SEND 5550123 hello')
print('send', attempt(m.i.Send), m.get('StatusCode'), m.get('StatusStr'), attempt(m.i.Send))
print('sent', wait_for(m, 'StatusCode', '2'), m.get('StatusStr'), int(m.get('ReferenceID')) > 0, attempt(m.i.Send))

# ---- several clients wait at once; the bus answers meanwhile
DBusGMainLoop(set_as_default=True)
loop = GLib.MainLoop()
results = {}
heard = []
def start(label, method, *args):
    t0 = time.time()
    def done(*reply):
        results[label] = ('ok' if not reply else str(reply[0]), time.time() - t0)
    def failed(e):
        results[label] = (e.get_dbus_name().split('.')[-1] + ': ' + e.get_dbus_message(), time.time() - t0)
    method(*args, reply_handler=done, error_handler=failed, timeout=120)

def client():
    return dbus.SessionBus(private=True)

observerBus = client()
drv = Obj(observerBus, 'SMSDriver', D)
observerBus.add_signal_receiver(lambda i, s: heard.append(('status', int(i), int(s))),
                                signal_name='SMSStatusChanged', path=drv.path)
observerBus.add_signal_receiver(lambda t, c, r: heard.append(('ussd', str(t), int(c), str(r))),
                                signal_name='USSDReply', path=drv.path)

sync = []
for n in range(3):
    s = Obj(client(), 'SMSMessage', M)
    s.put('To', '+1555010' + str(n))
    s.put('Body', 'sync ' + str(n))
    start('sync %d' % n, s.i.SendSync, False, dbus.UInt32(90))
    sync.append(s)
noTo = Obj(client(), 'SMSMessage', M)
start('sync without recipient', noTo.i.SendSync, False, dbus.UInt32(90))
delivery = Obj(client(), 'SMSMessage', M)
delivery.put('To', '+15550200')
delivery.put('Body', 'report please')
start('sync for a report', delivery.i.SendSync, True, dbus.UInt32(3))

traced = Obj(observerBus, 'SMSMessage', M)
traced.put('To', '+15550300')
traced.put('Body', 'traced')
print('trace to a message', attempt(lambda: traced.i.SendAndTrace(dbus.ObjectPath(m.path))))
print('trace', attempt(lambda: traced.i.SendAndTrace(dbus.ObjectPath(drv.path))))

t0 = time.time()
answers = [m.get('StatusStr'), sync[0].get('StatusCode'), delivery.get('Flags')]
print('bus answers while calls wait', answers, time.time() - t0 < 1.0)

def run_until(done):
    def check():
        if done():
            loop.quit()
            return False
        return True
    GLib.timeout_add(100, check)
    guard = GLib.timeout_add_seconds(100, loop.quit)
    loop.run()
    GLib.source_remove(guard)
run_until(lambda: len(results) == 5 and any(h[0] == 'status' for h in heard))
print('sent once answered', [s.get('StatusCode') for s in sync])
print('report flag', delivery.get('Flags'), 'gave up after', round(results['sync for a report'][1]) >= 3)

# ---- USSD: the reply reaches the waiter and the observer. (The emulator
# announces a stored message with every reply; its answer to the read
# leaves the modem queue stalled, so this comes after the sending above.)
ussd = Obj(client(), 'USSDRequest', U)
ussd.put('Content', '*100#')
start('ussd sync', ussd.i.SendSync, dbus.UInt32(30))
withReply = Obj(observerBus, 'USSDRequest', U)
withReply.put('Content', '*101#')
print('reply to a stranger', attempt(lambda: withReply.i.SendWithReply(dbus.ObjectPath(ussd.path))))
print('reply to me', attempt(lambda: withReply.i.SendWithReply(dbus.ObjectPath(drv.path))))

run_until(lambda: len(results) == 6 and any(h[0] == 'ussd' for h in heard))
print('ussd answered at once', results['ussd sync'][1] < 10)
for label in sorted(results):
    print(label, results[label][0])
print('heard', sorted(set(heard)) == sorted(set([('status', int(traced.get('ID')), 2)] +
      [('ussd', 'Your current balance is $ 22.10', 2, '')])), heard)

# ---- a call still waiting when the driver stops is answered
last = Obj(client(), 'SMSMessage', M)
last.put('To', '+15550400')
last.put('Body', 'never reported')
results.clear()
start('at exit', last.i.SendSync, True, dbus.UInt32(100))
GLib.timeout_add(500, lambda: os.kill(DRIVER_PID, signal.SIGTERM) and False)
run_until(lambda: results)
print('at exit', results.get('at exit', ('no answer',))[0])
)";

TEST(AutomationSMSMessage, SendsTracksAndWaitsOnTheEmulatorWhileTheBusKeepsAnswering) {
  test::PrivateBus bus;
  test::DriverSandbox box(std::map<std::string, std::string>{{"status.time", "1"}});
  test::DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.log"), "Automation server on the session bus"))
      << test::ReadFile(box.UserFile("qmdriver.log"));

  const test::ScriptResult result =
      test::RunPythonDbus("DRIVER_PID = " + std::to_string(driver.pid()) + "\n" + kScript, 150s);
  EXPECT_EQ(result.exitCode, 0) << result.output;
  const std::string text = result.output;
  const auto has = [&](const std::string& line) {
    EXPECT_NE(text.find(line + "\n"), std::string::npos) << "missing: " << line << "\n"
                                                         << text << test::ReadFile(box.UserFile("qmdriver.log"));
  };
  has("new True 0 86400 True 0 unknown 0");
  has("coding 2 UCS2 8bit");
  has("no recipient Failed: Missing destination address");
  has("send ok 1 pending Failed: This SMS was already sent");
  has("sent 2 sent True Failed: This SMS was already sent");
  has("reply to a stranger InvalidArg: Invalid value");
  has("reply to me ok");
  has("trace to a message InvalidArg: Invalid value");
  has("trace ok");
  has("bus answers while calls wait ['sent', '1', '4'] True");
  has("sync 0 ok");
  has("sync 1 ok");
  has("sync 2 ok");
  has("sync for a report Failed: Timeout");
  has("sync without recipient Failed: Missing destination address");
  has("ussd sync Your current balance is $ 22.10");
  has("sent once answered ['2', '2', '2']");
  has("report flag 4 gave up after True");
  has("ussd answered at once True");
  EXPECT_NE(text.find("heard True"), std::string::npos) << text;
  has("at exit Failed: The operation was cancelled");

  EXPECT_EQ(driver.WaitExit(30s), 0) << driver.Stderr();
  // The emulator echoes "SEND <number> <text>" as a message from that number.
  EXPECT_NE(test::ReadFile(box.UserFile("inbox.txt")).find("\t5550123\tsms\thello\t"), std::string::npos)
      << test::ReadFile(box.UserFile("inbox.txt"));
}

}  // namespace
}  // namespace qm
