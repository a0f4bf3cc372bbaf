#include "platform/desktop_notifications.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <map>

#include "tests/support/event_wait.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// Test processes run in parallel on one bus: each fake daemon gets its own name.
std::string TestBusName() { return "org.freedesktop.Notifications.Test" + std::to_string(::getpid()); }

// A notification daemon on the private session bus of the test scripts: it
// records each call as "summary|body|expire" and then hangs until `release`.
class FakeNotificationServer {
 public:
  explicit FakeNotificationServer(std::shared_future<void> release)
      : connection_(sdbus::createSessionBusConnection(TestBusName())),
        object_(sdbus::createObject(*connection_, "/org/freedesktop/Notifications")) {
    object_->registerMethod("Notify")
        .onInterface("org.freedesktop.Notifications")
        .implementedAs([this, release](const std::string&, const uint32_t&, const std::string&,
                                       const std::string& summary, const std::string& body,
                                       const std::vector<std::string>&,
                                       const std::map<std::string, sdbus::Variant>&, const int32_t& expire) {
          received.Push(summary + "|" + body + "|" + std::to_string(expire));
          release.wait();
          return uint32_t{1};
        });
    object_->finishRegistration();
    connection_->enterEventLoopAsync();
  }
  ~FakeNotificationServer() { connection_->leaveEventLoop(); }

  BlockingQueue<std::string> received;

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IObject> object_;
};

bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(10ms);
  return condition();
}

TEST(DesktopNotifications, NoBusAtAllIsJustAFailure) {
  test::TempDir dir;
  test::ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.File("no-bus"));
  DesktopNotifications notifications;
  notifications.Send("Error", "nobody listens");
  EXPECT_TRUE(Eventually([&] { return notifications.Failed() == 1; }));
}

// No daemon, then one that hangs, then none again: Send never waits, at most
// maxPending notifications queue up, and failures are logged once per streak.
TEST(DesktopNotificationsConcurrent, DaemonComingHangingAndGoingNeverHoldsUpTheCaller) {
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) GTEST_SKIP() << "no private session bus";
  BlockingQueue<std::string> logged;
  DesktopNotificationOptions options;
  options.busName = TestBusName();
  options.callTimeout = 60s;  // far beyond the test's bound: only queueing keeps Send quick
  options.maxPending = 4;
  options.log = [&](LogLevel, const std::string& text) { logged.Push(text); };
  DesktopNotifications notifications(options);
  notifications.Send("Error", "nobody listens");
  notifications.Send("Error", "nobody listens either");
  ASSERT_TRUE(Eventually([&] { return notifications.Failed() == 2; }));
  ASSERT_EQ(logged.Size(), 1u);
  EXPECT_NE(logged.TryPop()->find("org.freedesktop.DBus.Error.ServiceUnknown"), std::string::npos);
  {
    std::promise<void> release;
    FakeNotificationServer server(release.get_future().share());
    notifications.Send("Connected", "connected to ttyUSB0");
    const std::string first = "Connected|connected to ttyUSB0|" + std::to_string(options.expireMs);
    EXPECT_EQ(test::NextWithin(server.received, 10s), first);  // the daemon now hangs in this call
    auto burst = std::async(std::launch::async, [&] {
      int accepted = 0;
      for (int i = 0; i < 20; ++i) accepted += notifications.Send("Error", std::to_string(i)) ? 1 : 0;
      return accepted;
    });
    ASSERT_EQ(burst.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(burst.get(), 4);  // the rest were dropped, not queued without end
    release.set_value();
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(test::NextWithin(server.received, 10s));
    EXPECT_TRUE(Eventually([&] { return notifications.Delivered() == 5; }));
  }
  notifications.Send("Error", "gone again");  // a new failure streak is reported
  EXPECT_TRUE(Eventually([&] { return logged.Size() == 1; }));
}

}  // namespace
}  // namespace qm
