#include "platform/desktop_notifications.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <vector>

#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

struct Received {
  std::string app, icon, summary, body;
  uint32_t replaces = 0;
  std::size_t actions = 0;
  int32_t expire = 0;
};

// The bus name of this test process's fake daemon: test processes run in
// parallel on one bus, and each must talk to its own daemon.
std::string TestBusName() { return "org.freedesktop.Notifications.Test" + std::to_string(::getpid()); }

DesktopNotificationOptions TestOptions() {
  DesktopNotificationOptions options;
  options.busName = TestBusName();
  return options;
}

// A notification daemon on the private session bus of the test scripts.
class FakeNotificationServer {
 public:
  explicit FakeNotificationServer(std::shared_future<void> gate = {}) : gate_(std::move(gate)) {
    connection_ = sdbus::createSessionBusConnection(TestBusName());
    object_ = sdbus::createObject(*connection_, "/org/freedesktop/Notifications");
    object_->registerMethod("Notify")
        .onInterface("org.freedesktop.Notifications")
        .implementedAs([this](const std::string& app, const uint32_t& replaces, const std::string& icon,
                              const std::string& summary, const std::string& body,
                              const std::vector<std::string>& actions,
                              const std::map<std::string, sdbus::Variant>&, const int32_t& expire) {
          {
            std::lock_guard lock(mutex_);
            received_.push_back(Received{app, icon, summary, body, replaces, actions.size(), expire});
          }
          changed_.notify_all();
          if (gate_.valid()) gate_.wait();  // a daemon that hangs until released
          return static_cast<uint32_t>(received_.size());
        });
    object_->finishRegistration();
    connection_->enterEventLoopAsync();
  }
  ~FakeNotificationServer() {
    connection_->leaveEventLoop();
    object_.reset();
  }

  // Waits (bounded) until `count` notifications have arrived.
  bool WaitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return received_.size() >= count; });
  }
  std::vector<Received> Got() {
    std::lock_guard lock(mutex_);
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

bool HaveSessionBus() { return std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr; }

// Collects what the sender reports.
struct LogLines {
  std::mutex mutex;
  std::vector<std::string> lines;
  std::function<void(int, const std::string&)> Sink() {
    return [this](int, const std::string& text) {
      std::lock_guard lock(mutex);
      lines.push_back(text);
    };
  }
  std::vector<std::string> Get() {
    std::lock_guard lock(mutex);
    return lines;
  }
};

bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(10ms);
  return condition();
}

TEST(DesktopNotifications, NotifyCarriesTitleTextAndTenSeconds) {
  if (!HaveSessionBus()) GTEST_SKIP() << "no private session bus (run through scripts/with-services.sh)";
  EXPECT_EQ(DesktopNotificationOptions().busName, "org.freedesktop.Notifications");
  FakeNotificationServer server;
  DesktopNotifications notifications(TestOptions());
  EXPECT_TRUE(notifications.Send("Connected", "Quillmoor GSM Modem Driver is connected to ttyUSB0"));
  ASSERT_TRUE(server.WaitFor(1));
  const Received r = server.Got().at(0);
  EXPECT_EQ(r.app, "Quillmoor GSM Modem Driver");
  EXPECT_EQ(r.summary, "Connected");
  EXPECT_EQ(r.body, "Quillmoor GSM Modem Driver is connected to ttyUSB0");
  EXPECT_EQ(r.expire, 10000);
  EXPECT_EQ(r.replaces, 0u);
  EXPECT_EQ(r.actions, 0u);
  EXPECT_TRUE(Eventually([&] { return notifications.Delivered() == 1; }));
}

TEST(DesktopNotifications, MissingDaemonIsReportedOnceAndRecovers) {
  if (!HaveSessionBus()) GTEST_SKIP() << "no private session bus (run through scripts/with-services.sh)";
  LogLines log;
  DesktopNotificationOptions options = TestOptions();
  options.log = log.Sink();
  DesktopNotifications notifications(options);
  notifications.Send("Error", "first");
  notifications.Send("Error", "second");
  ASSERT_TRUE(Eventually([&] { return notifications.Failed() == 2; }));
  EXPECT_EQ(log.Get().size(), 1u);  // one report per failure streak
  {
    FakeNotificationServer server;  // a daemon appears
    notifications.Send("Connected", "third");
    ASSERT_TRUE(server.WaitFor(1));
    EXPECT_EQ(server.Got().at(0).body, "third");
  }
  notifications.Send("Error", "fourth");  // and goes away again
  ASSERT_TRUE(Eventually([&] { return log.Get().size() == 2; }));
  const auto lines = log.Get();
  EXPECT_NE(lines[0].find("Desktop notifications unavailable: org.freedesktop.DBus.Error.ServiceUnknown"),
            std::string::npos)
      << lines[0];
  EXPECT_EQ(notifications.Delivered(), 1u);
}

TEST(DesktopNotifications, NoBusAtAllIsJustAFailure) {
  test::TempDir dir;
  test::ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.File("no-bus"));
  LogLines log;
  {
    DesktopNotifications notifications({.log = log.Sink()});
    notifications.Send("Error", "nobody listens");
    ASSERT_TRUE(Eventually([&] { return notifications.Failed() == 1; }));
    EXPECT_EQ(notifications.Delivered(), 0u);
  }
  EXPECT_EQ(log.Get().size(), 1u);
}

TEST(DesktopNotificationsConcurrent, HangingDaemonNeverHoldsUpTheCaller) {
  if (!HaveSessionBus()) GTEST_SKIP() << "no private session bus (run through scripts/with-services.sh)";
  std::promise<void> release;
  FakeNotificationServer server(release.get_future().share());
  {
    // Time-out far longer than the test's bound: only queueing keeps Send quick.
    DesktopNotificationOptions options = TestOptions();
    options.callTimeout = 60s;
    options.maxPending = 4;
    DesktopNotifications notifications(options);
    notifications.Send("Connected", "first");
    ASSERT_TRUE(server.WaitFor(1));  // the daemon now hangs in this call
    auto burst = std::async(std::launch::async, [&] {
      int accepted = 0;
      for (int i = 0; i < 20; ++i) accepted += notifications.Send("Error", "more " + std::to_string(i)) ? 1 : 0;
      return accepted;
    });
    ASSERT_EQ(burst.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(burst.get(), 4);  // the rest were dropped, not queued without end
    release.set_value();
    ASSERT_TRUE(server.WaitFor(5));
    EXPECT_TRUE(Eventually([&] { return notifications.Delivered() == 5; }));
  }
  EXPECT_EQ(server.Got().size(), 5u);
}

}  // namespace
}  // namespace qm
