// What the tray icon shows on Windows, kept for a desktop without one: the
// tooltip as state (the status tools read it) and balloons, which go to the
// log and to a sender (desktop notifications) when one is given.
//
// Balloons are dropped in service mode and while "disable_bubbles" is not 0;
// the tooltip changes in every mode.
//
// Threads: every member may be called from any thread (the command and timer
// threads set tooltips and show balloons; status queries read the tooltip).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace qm {

class ConfigStore;
class Logger;

class Notifier {
 public:
  // Delivers one balloon; must not block (DesktopNotifications::Send).
  using BalloonSender = std::function<void(const std::string& title, const std::string& text)>;

  // The longest tooltip, in characters (code points).
  static constexpr std::size_t kTooltipLength = 63;

  // `log` and `config` may be null and must outlive the notifier; `sender`
  // may be empty (no desktop notifications).
  Notifier(Logger* log, const ConfigStore* config, bool serviceMode, BalloonSender sender);

  // Keeps the first 63 characters of the text; a change is logged at level 0.
  void SetTooltip(std::string_view text);
  std::string Tooltip() const;

  // Logs "Balloon: <title>: <text>" at level 0 (the log keeps it on one line) and
  // hands the balloon to the sender, unless balloons are off.
  void ShowBalloon(std::string_view title, std::string_view text);

  // False in service mode and while "disable_bubbles" is not 0.
  bool BalloonsEnabled() const;

 private:
  Logger* const log_;
  const ConfigStore* const config_;
  const bool serviceMode_;
  const BalloonSender sender_;
  mutable std::mutex mutex_;
  std::string tooltip_;
};

}  // namespace qm
