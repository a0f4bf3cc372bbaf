// CMainFrame: the main frame of the running driver.
//
// It runs the main thread's command loop (Connect, Disconnect, Exit and the
// menu commands), turns timer firings into commands for the command thread,
// shows tooltips and balloons through the Notifier, and writes the status
// file. There is no window on Linux: the loop reads frame commands from a
// queue, in tray and in service mode alike, so reconnecting works in both.
// The frame never touches the modem: Connect, Disconnect and every timer
// that concerns the modem become commands for the command thread.
//
// Threads: RunLoop on the main thread. PostCommand, the UserNotices
// operations, the timer setters and WriteStatusFile from any thread. OnTimer
// runs on the timer thread (under the timer lock) and only posts commands or
// writes the status file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "gateway/driver_command.h"
#include "gateway/driver_timers.h"
#include "gateway/user_notices.h"
#include "platform/blocking_queue.h"

namespace qm {

class AsyncSerialComm;
class ConfigStore;
class DriverCounters;
class Logger;
class Notifier;
struct ConfigLocations;
struct TableSet;

// Commands of the main frame (the tray menu's identifiers).
enum FrameCommand : uint32_t {
  kFrameControlPanel = 0x8000,
  kFrameConnect = 0x8001,
  kFrameSendSms = 0x8002,
  kFrameViewLastSms = 0x8003,
  kFrameExit = 0x8004,
  kFrameDisconnect = 0x8005,
  kFrameSendUssd = 0x8006,
  kFrameMainScreen = 0x8007,
  kFrameSendOverList = 40000,
};

// What start-up hands the main frame; every object outlives it.
struct FrameContext {
  ConfigStore& config;
  const ConfigLocations& locations;
  Logger& log;
  TableSet& tables;
  AsyncSerialComm& transport;
  CommandQueue& commands;  // the command thread's queue
  DriverTimers& timers;
  Notifier& notifier;
  const DriverCounters& counters;
  unsigned instance = 0;
  bool serviceProfile = false;
};

class CMainFrame final : public UserNotices {
 public:
  // Schedules the housekeeping, polling and status-file timers.
  explicit CMainFrame(FrameContext context);
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  // ---- main thread ----

  // Executes frame commands until Exit; returns the exit code (0).
  int RunLoop();

  // ---- any thread ----

  void PostCommand(uint32_t command);
  // The tray title for a situation, e.g. "(connected to ttyUSB0)".
  std::string Title(std::string_view situation) const;
  void SetTooltip(std::string_view text);
  void ShowBalloon(std::string_view title, std::string_view text) override;
  void ShowLinkSituation(std::string_view situation) override;
  void SetPollingTimer(int seconds);
  void SetStatusTimer(int seconds);
  void WriteStatusFile();

  // ---- timer thread ----
  DriverTimers::HandlerResult OnTimer(uint32_t id);

 private:
  void PostToCommandThread(uint32_t code, int32_t result = 0);

  FrameContext context_;
  BlockingQueue<uint32_t> frameCommands_;
};

}  // namespace qm
