// SMSHandler automation objects as subscribers, driven by python3-dbus
// against the driver on its emulator and a private bus: which handler hears
// which event, what the message objects it hands out hold and who owns them,
// and what a client that leaves without releasing anything leaves behind.
#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>
#include <signal.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "com/com_sms_handler.h"
#include "tests/support/driver_process.h"
#include "tests/support/private_bus.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// Events posted from several threads while the bus thread takes them: each
// one not reported as dropped is taken, however the posts and the takes
// interleave (a post must never find a wake-up call that was already
// answered), and the threads that post never wait for the bus.
TEST(HandlerMailbox, EveryEventPostedFromAnyThreadIsTaken) {
  test::PrivateBus bus;
  std::unique_ptr<sdbus::IConnection> connection = sdbus::createSessionBusConnection();
  const std::string path = "/mailbox";
  std::shared_ptr<sdbus::IProxy> waker = sdbus::createProxy(*connection, connection->getUniqueName(), path);
  auto mailbox = std::make_shared<HandlerMailbox>(waker);
  std::atomic<int> taken{0};
  std::atomic<int> calls{0};
  std::unique_ptr<sdbus::IObject> object = sdbus::createObject(*connection, path);
  object->registerMethod(kMailboxTake).onInterface(kMailboxInterface).implementedAs([&] {
    ++calls;
    taken += static_cast<int>(mailbox->Take().size());
  });
  object->finishRegistration();
  connection->enterEventLoopAsync();

  constexpr int kThreads = 4;
  constexpr int kEach = 3000;
  std::atomic<int> kept{0};
  std::atomic<int> failed{0};
  {
    std::vector<std::jthread> posters;
    for (int t = 0; t < kThreads; ++t) {
      posters.emplace_back([&] {
        for (int i = 0; i < kEach; ++i) {
          std::string why;
          switch (mailbox->Post(HandlerDelivery{std::make_unique<SMSMessage>()}, why)) {
            case HandlerMailbox::PostResult::kPosted:
              ++kept;
              break;
            case HandlerMailbox::PostResult::kDroppedOldest:
              break;  // it replaced one
            default:
              ++failed;
              break;
          }
        }
      });
    }
  }
  for (int i = 0; i < 500 && taken < kept; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(taken.load(), kept.load());
  EXPECT_LE(calls.load(), kThreads * kEach);
  connection->leaveEventLoop();

  // Once the object's proxy is gone nothing is posted any more.
  waker.reset();
  std::string why;
  EXPECT_EQ(mailbox->Post(HandlerDelivery{std::make_unique<SMSMessage>()}, why), HandlerMailbox::PostResult::kGone);
}

// Client A keeps five handlers; client B registers one that hears every
// received message and then disconnects without releasing anything. Each
// message goes out through the spool file as "SEND <number> <word>", which
// the emulator sends back as a received message from <number>.
const char* const kScript = R"(
import re, time
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib
NAME = 'org.quillmoor.GSM'
H = 'org.quillmoor.GSM.ISMSHandler'
M = 'org.quillmoor.GSM.ISMSMessage'
PROPS = 'org.freedesktop.DBus.Properties'
SPOOL = '@SPOOL@'
INBOX = '@INBOX@'
a = dbus.SessionBus(mainloop=DBusGMainLoop(), private=True)
b = dbus.SessionBus(private=True)

def factory(conn):
    return dbus.Interface(conn.get_object(NAME, '/org/quillmoor/GSM'), 'org.quillmoor.GSM.Factory')

def handler(conn, event, **patterns):
    path = factory(conn).CreateObject('QuillmoorGSM.SMSHandler')
    props = dbus.Interface(conn.get_object(NAME, path), PROPS)
    props.Set(H, 'Event', dbus.UInt32(event))
    for key, value in patterns.items():
        props.Set(H, key, value)
    return str(path), dbus.Interface(conn.get_object(NAME, path), H), props

def error(f):
    try:
        f()
        return 'ok'
    except dbus.DBusException as e:
        return e.get_dbus_name()

heard = []
a.add_signal_receiver(lambda m, path=None, member=None: heard.append((member, str(path), str(m))),
                      dbus_interface='org.quillmoor.GSM._ISMSHandlerEvents',
                      path_keyword='path', member_keyword='member')

def pump(seconds, done=lambda: False):
    ctx = GLib.MainContext.default()
    end = time.time() + seconds
    while time.time() < end and not done():
        while ctx.pending():
            ctx.iteration(False)
        time.sleep(0.02)

def send(word):
    with open(SPOOL, 'w') as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<messages><message msisdn="+4912345">'
                'SEND 4915112345 ' + word + '</message></messages>\n')

hin, hin_i, _ = handler(a, 0, FromPattern='5112345', BodyPattern='HELLO')
hsent, hsent_i, _ = handler(a, 1, BodyPattern='send 49151')
hnone, hnone_i, _ = handler(a, 0, BodyPattern='nomatch')
hoff, hoff_i, _ = handler(a, 0)
h7, h7_i, h7_props = handler(a, 7)
hb, hb_i, _ = handler(b, 0)
labels = {hin: 'in', hsent: 'sent', hnone: 'none', hoff: 'off', h7: 'h7', hb: 'b'}
print('name', re.fullmatch('[0-9a-f]{8}', str(h7_props.Get(H, 'Name'))) is not None)
h7_props.Set(H, 'Name', 'seven')
print('renamed', h7_props.Get(H, 'Name'))
for registered in [hin_i, hin_i, hsent_i, hnone_i, hoff_i, hb_i]:
    registered.Register()
hoff_i.Unregister()
deliver = h7_i.get_dbus_method('_DeliverSMS')
print('deliver 7', error(lambda: deliver(dbus.ObjectPath('/org/quillmoor/GSM/SMSMessage/4242'))))
h7_props.Set(H, 'Event', dbus.UInt32(2))
print('deliver 2', error(lambda: deliver(dbus.ObjectPath('/org/quillmoor/GSM/SMSMessage/4242'))))

def report(until):
    pump(60, lambda: all(any(labels.get(p) == want for _, p, _ in heard) for want in until))
    pump(1.5)  # anything else would have come by now
    for member, path, message in sorted(heard, key=lambda h: (labels.get(h[1], '?'), h[0])):
        if labels.get(path) == 'h7':
            print(member, 'h7', message)
            continue
        msg = dbus.Interface(a.get_object(NAME, message), PROPS)
        print(member, labels.get(path, path), '|'.join(str(msg.Get(M, k)) for k in ['From', 'To', 'Body']))
    got = {labels.get(p, p): m for _, p, m in heard}
    heard.clear()
    return got

send('hello')
messages = report(['in', 'sent', 'b', 'h7'])
# The objects belong to the client of the handler that heard the event.
print('release', [error(lambda: factory(a).Release(dbus.ObjectPath(messages[k]))) for k in ['in', 'sent', 'b']])

# B leaves with its handler and its message still held.
b.close()
def gone(path, interface, name):
    return error(lambda: dbus.Interface(a.get_object(NAME, path, introspect=False), PROPS).Get(interface, name)) != 'ok'
pump(10, lambda: gone(hb, H, 'Event'))
print('b gone', gone(hb, H, 'Event'), gone(messages['b'], M, 'Body'))
send('again')
pump(60, lambda: 'again' in open(INBOX).read())
report(['sent'])
)";

TEST(AutomationHandler, SubscribersHearTheirEventsAndLeaveWithTheirClient) {
  test::PrivateBus bus;
  test::TempDir work;
  const std::string spool = work.File("spool.xml");
  test::WriteFile(spool, "");
  test::DriverSandbox box({{"status.time", "1"},
                           {"sender.delay", "0"},
                           {"sources.0.type", "file"},
                           {"sources.0.name", "spool"},
                           {"sources.0.period", "1"},
                           {"sources.0.location", spool},
                           // A message a subscriber took is not kept: what the inbox holds was heard by nobody.
                           {"inbox.discard_handled", "1"}});
  test::DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.log"), "Automation server on the session bus"))
      << test::ReadFile(box.UserFile("qmdriver.log"));
  std::string script = kScript;
  script.replace(script.find("@SPOOL@"), 7, spool);
  script.replace(script.find("@INBOX@"), 7, box.UserFile("inbox.txt"));
  const test::ScriptResult result = test::RunPythonDbus(script, 150s);
  EXPECT_EQ(result.exitCode, 0) << result.output;
  // Listed by handler: B's and the one that hears "hello" each get their
  // own object; the sent message comes with its recipient.
  EXPECT_EQ(result.output,
            "name True\n"
            "renamed seven\n"
            "deliver 7 ok\n"
            "deliver 2 ok\n"
            "IncomingSMS b 4915112345||hello\n"
            "DeliveredSMS h7 /org/quillmoor/GSM/SMSMessage/4242\n"
            "IncomingSMS in 4915112345||hello\n"
            "SentSMS sent |+4912345|SEND 4915112345 hello\n"
            "release ['ok', 'ok', 'org.quillmoor.GSM.Error.InvalidArg']\n"
            "b gone True True\n"
            "SentSMS sent |+4912345|SEND 4915112345 again\n");
  driver.Signal(SIGTERM);
  EXPECT_EQ(driver.WaitExit(20s), 0);
  const std::string log = test::ReadFile(box.UserFile("qmdriver.log"));
  EXPECT_EQ(log.find("Handler failed"), std::string::npos) << log;
  EXPECT_EQ(log.find("Error while handling"), std::string::npos) << log;
  // "hello" was taken by subscribers; "again" found nobody once B had left.
  const std::string inbox = test::ReadFile(box.UserFile("inbox.txt"));
  EXPECT_EQ(inbox.find("\thello\t"), std::string::npos) << inbox;
  EXPECT_NE(inbox.find("\tagain\t"), std::string::npos) << inbox;
}

}  // namespace
}  // namespace qm
