// Desktop notifications (org.freedesktop.Notifications on the session bus),
// the Linux form of tray balloons.
//
// Send only queues the notification; a sender thread of this object talks to
// the bus, so a missing bus, a missing notification daemon or one that hangs
// never holds up the caller. Each call waits at most `callTimeout`; while the
// daemon is slow, at most `maxPending` notifications wait and later ones are
// dropped. The session bus is asked for explicitly (for root the default bus
// would be the system bus) and is connected on the first notification and
// again after a failure. Bus errors are caught here and reported through
// `log` once per failure streak.
//
// Threads: Send from any thread. `log` is called on the sender thread. The
// destructor (owning thread) waits for a call in progress, at most
// `callTimeout`.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "platform/blocking_queue.h"
#include "platform/log_level.h"

namespace qm {

struct DesktopNotificationOptions {
  // The daemon's bus name (tests give their fake daemon a name of its own).
  std::string busName = "org.freedesktop.Notifications";
  std::string appName = "Quillmoor GSM Modem Driver";
  int32_t expireMs = 10000;
  std::chrono::milliseconds callTimeout{2000};
  std::size_t maxPending = 16;
  std::function<void(LogLevel level, const std::string& text)> log;
};

class DesktopNotifications {
 public:
  explicit DesktopNotifications(DesktopNotificationOptions options = {});
  ~DesktopNotifications();
  DesktopNotifications(const DesktopNotifications&) = delete;
  DesktopNotifications& operator=(const DesktopNotifications&) = delete;

  // Queues a notification; never blocks. False when it was dropped because
  // too many are waiting.
  bool Send(std::string title, std::string text);

  // Notifications the daemon accepted, and those that failed, so far (for
  // tests and diagnostics; dropped ones count in neither).
  uint64_t Delivered() const { return delivered_.load(); }
  uint64_t Failed() const { return failed_.load(); }

 private:
  struct Item {
    std::string title;
    std::string text;
  };
  void Loop(std::stop_token stop);

  const DesktopNotificationOptions options_;
  BlockingQueue<Item> queue_;
  std::atomic<uint64_t> delivered_{0};
  std::atomic<uint64_t> failed_{0};
  std::jthread thread_;  // last: stopped before the members it uses go away
};

}  // namespace qm
