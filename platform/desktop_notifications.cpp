#include "platform/desktop_notifications.h"

#include <sdbus-c++/sdbus-c++.h>

#include <map>
#include <memory>
#include <vector>

namespace qm {
namespace {

const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";

// The sender thread's bus state: connected lazily, dropped after a failure.
class NotifyClient {
 public:
  explicit NotifyClient(const DesktopNotificationOptions& options) : options_(options) {}

  // True when the daemon accepted the notification.
  bool Notify(const std::string& title, const std::string& text) {
    std::string failure;
    try {
      if (!proxy_) {
        connection_ = sdbus::createSessionBusConnection();
        proxy_ = sdbus::createProxy(*connection_, options_.busName, kPath);
      }
      auto call = proxy_->createMethodCall(kInterface, "Notify");
      call << options_.appName << uint32_t{0} << std::string() << title << text << std::vector<std::string>()
           << std::map<std::string, sdbus::Variant>() << options_.expireMs;
      const auto timeout = std::chrono::duration_cast<std::chrono::microseconds>(options_.callTimeout);
      auto reply = proxy_->callMethod(call, static_cast<uint64_t>(timeout.count()));
      uint32_t id = 0;
      reply >> id;
      failing_ = false;
      return true;
    } catch (const sdbus::Error& e) {
      failure = e.getName() + ": " + e.getMessage();
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "unknown error";
    }
    // Reconnect on the next notification: the bus or the daemon may be back.
    proxy_.reset();
    connection_.reset();
    if (!failing_ && options_.log) options_.log(LogLevel::kWarning, "Desktop notifications unavailable: " + failure);
    failing_ = true;
    return false;
  }

 private:
  const DesktopNotificationOptions& options_;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IProxy> proxy_;
  bool failing_ = false;
};

}  // namespace

DesktopNotifications::DesktopNotifications(DesktopNotificationOptions options)
    : options_(std::move(options)), thread_([this](std::stop_token stop) { Loop(stop); }) {}

DesktopNotifications::~DesktopNotifications() {
  thread_.request_stop();
  thread_.join();
}

bool DesktopNotifications::Send(std::string title, std::string text) {
  if (queue_.Size() >= options_.maxPending) return false;
  queue_.Push(Item{std::move(title), std::move(text)});
  return true;
}

void DesktopNotifications::Loop(std::stop_token stop) {
  std::stop_callback wake(stop, [this] { queue_.Wake(); });
  NotifyClient client(options_);
  while (!stop.stop_requested()) {
    std::optional<Item> item = queue_.Pop();
    if (!item) continue;  // woken: check for a stop
    if (client.Notify(item->title, item->text)) {
      delivered_.fetch_add(1);
    } else {
      failed_.fetch_add(1);
    }
  }
}

}  // namespace qm
