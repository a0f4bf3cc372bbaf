#include "platform/desktop_notifications.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <map>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// Test processes run in parallel on one bus: each fake daemon gets its own name.
std::string TestBusName() { return "org.freedesktop.Notifications.Test" + std::to_string(::getpid()); }

struct Received {
  std::string app, summary, body;
  int32_t expire;
};

// A notification daemon on the private session bus of the test scripts; it
// hangs in each call until `gate` is released, when one is given.
class FakeNotificationServer {
 public:
  explicit FakeNotificationServer(std::shared_future<void> gate = {}) : gate_(std::move(gate)) {
    connection_ = sdbus::createSessionBusConnection(TestBusName());
    object_ = sdbus::createObject(*connection_, "/org/freedesktop/Notifications");
    object_->registerMethod("Notify")
        .onInterface("org.freedesktop.Notifications")
        .implementedAs([this](const std::string& app, const uint32_t&, const std::string&, const std::string& summary,
                              const std::string& body, const std::vector<std::string>&,
                              const std::map<std::string, sdbus::Variant>&, const int32_t& expire) {
          {
            std::lock_guard lock(mutex_);
            received_.push_back(Received{app, summary, body, expire});
          }
          changed_.notify_all();
          if (gate_.valid()) gate_.wait();
          return uint32_t{1};
        });
    object_->finishRegistration();
    connection_->enterEventLoopAsync();
  }
  ~FakeNotificationServer() { connection_->leaveEventLoop(); }

  std::vector<Received> WaitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 10s, [&] { return received_.size() >= count; });
    return received_;
  }

 private:
  std::shared_future<void> gate_;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IObject> object_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Received> received_;
};

bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(10ms);
  return condition();
}

#define REQUIRE_SESSION_BUS()                                 \
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr)     \
  GTEST_SKIP() << "no private session bus (run through scripts/with-services.sh)"

TEST(DesktopNotifications, DeliveredOnceADaemonIsThereFailuresReportedOncePerStreak) {
  REQUIRE_SESSION_BUS();
  EXPECT_EQ(DesktopNotificationOptions().busName, "org.freedesktop.Notifications");
  std::mutex m;
  std::vector<std::string> log;
  DesktopNotificationOptions options;
  options.busName = TestBusName();
  options.log = [&](LogLevel, const std::string& text) {
    std::lock_guard lock(m);
    log.push_back(text);
  };
  auto logged = [&] {
    std::lock_guard lock(m);
    return log;
  };
  DesktopNotifications notifications(options);
  notifications.Send("Error", "nobody listens");
  notifications.Send("Error", "nobody listens either");
  ASSERT_TRUE(Eventually([&] { return notifications.Failed() == 2; }));
  ASSERT_EQ(logged().size(), 1u);
  EXPECT_NE(logged()[0].find("Desktop notifications unavailable: org.freedesktop.DBus.Error.ServiceUnknown"),
            std::string::npos);
  {
    FakeNotificationServer server;  // a daemon appears
    notifications.Send("Connected", "Quillmoor GSM Modem Driver is connected to ttyUSB0");
    const auto got = server.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].app, "Quillmoor GSM Modem Driver");
    EXPECT_EQ(got[0].summary, "Connected");
    EXPECT_EQ(got[0].body, "Quillmoor GSM Modem Driver is connected to ttyUSB0");
    EXPECT_EQ(got[0].expire, 10000);
    EXPECT_TRUE(Eventually([&] { return notifications.Delivered() == 1; }));
  }
  notifications.Send("Error", "gone again");  // a new failure streak is reported
  EXPECT_TRUE(Eventually([&] { return logged().size() == 2; }));
}

TEST(DesktopNotifications, NoBusAtAllIsJustAFailure) {
  test::TempDir dir;
  test::ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.File("no-bus"));
  DesktopNotifications notifications;
  notifications.Send("Error", "nobody listens");
  EXPECT_TRUE(Eventually([&] { return notifications.Failed() == 1; }));
}

TEST(DesktopNotificationsConcurrent, HangingDaemonNeverHoldsUpTheCaller) {
  REQUIRE_SESSION_BUS();
  std::promise<void> release;
  FakeNotificationServer server(release.get_future().share());
  DesktopNotificationOptions options;
  options.busName = TestBusName();
  options.callTimeout = 60s;  // far beyond the test's bound: only queueing keeps Send quick
  options.maxPending = 4;
  DesktopNotifications notifications(options);
  notifications.Send("Connected", "first");
  ASSERT_EQ(server.WaitFor(1).size(), 1u);  // the daemon now hangs in this call
  auto burst = std::async(std::launch::async, [&] {
    int accepted = 0;
    for (int i = 0; i < 20; ++i) accepted += notifications.Send("Error", std::to_string(i)) ? 1 : 0;
    return accepted;
  });
  ASSERT_EQ(burst.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(burst.get(), 4);  // the rest were dropped, not queued without end
  release.set_value();
  EXPECT_EQ(server.WaitFor(5).size(), 5u);
  EXPECT_TRUE(Eventually([&] { return notifications.Delivered() == 5; }));
}

}  // namespace
}  // namespace qm
