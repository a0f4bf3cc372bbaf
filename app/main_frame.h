// CMainFrame: the hub of the running driver.
//
// It holds the driver's shared run-time state (the modem object, the listing
// state, the counters, the outbox dispatch list), runs the main thread's
// command loop (Connect, Disconnect, Exit and the menu commands), fires the
// driver's timers, shows tooltips and balloons through the Notifier, and
// writes the status file. There is no window on Linux: the loop reads frame
// commands from a queue, in tray and in service mode alike, so reconnecting
// works in both.
//
// Threads: RunLoop on the main thread. PostCommand, SetTooltip, ShowBalloon,
// the configuring phase, the outbox operations and the accessors from any
// thread. OnTimer runs on the timer thread (under the timer lock).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/driver_command.h"
#include "app/driver_timers.h"
#include "app/listing_state.h"
#include "modem/modem_info.h"

namespace qm {

class AsyncSerialComm;
class ConfigStore;
class Logger;
class ModemSender;
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
struct DriverContext {
  ConfigStore& config;
  const ConfigLocations& locations;
  Logger& log;
  TableSet& tables;
  AsyncSerialComm& transport;
  ModemSender& sender;
  CommandQueue& commands;  // the command thread's queue
  DriverTimers& timers;
  Notifier& notifier;
  unsigned instance = 0;
  bool serviceProfile = false;
};

class CMainFrame {
 public:
  // Fills the dispatch list from the outbox, creates the modem object and
  // schedules the housekeeping, polling and status-file timers.
  explicit CMainFrame(DriverContext context);
  ~CMainFrame();
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
  void ShowBalloon(std::string_view title, std::string_view text);
  void SetPollingTimer(int seconds);
  void SetStatusTimer(int seconds);
  void WriteStatusFile();

  // The configuring phase: entering it marks the link configuring, takes
  // every item out of the modem command queue (messages go back to the
  // outbox, raw commands are dropped), ends any memory listing and switches to
  // the connection reply timeout; leaving it purges the port and the reply
  // queues, marks the link ready unless it failed, and restores the reply
  // timeout.
  void EnterConfiguring();
  void LeaveConfiguring();

  // Moves the next outbox row to the modem command queue. The sending
  // pipeline is not part of this build, so messages wait in the outbox.
  void DispatchNext();
  // Stores a new outgoing message as an outbox row at the end of the
  // dispatch list (prefix rewriting and the national-format warning first).
  void AddToOutbox(std::unique_ptr<SMSMessage> message);
  // Puts a message back into the outbox with its id and attempts: at the
  // front of the dispatch list (taken back from the modem queue) or at the
  // end (a retry).
  bool ReturnToOutbox(const SMSMessage& message, bool front);
  // The identifiers waiting to be dispatched, oldest first.
  std::vector<std::string> DispatchList() const;
  // Empties the modem command queue: messages go back to the front of the
  // outbox in their queue order, raw AT commands are dropped.
  void ReturnQueuedMessages();

  // The command that lists the modem memory (unread messages only, or all),
  // built by the memory reader; nullptr when none can be built. The memory
  // reader is not part of this build.
  std::unique_ptr<ATCommandMessage> BuildListingCommand(bool unreadOnly) const;
  // True when a listing command waits in the modem command queue.
  bool ListingCommandQueued() const;

  // Tells a waiting automation reader that the memory can't be read.
  void PostReadFailed();
  // Ends a memory listing that will not complete: idle state, lists emptied,
  // and a waiting automation reader told that the memory can't be read.
  void AbandonListing();

  ConfigStore& Config() { return context_.config; }
  Logger& Log() { return context_.log; }
  TableSet& Tables() { return context_.tables; }
  AsyncSerialComm& Transport() { return context_.transport; }
  ModemSender& Sender() { return context_.sender; }
  CommandQueue& Commands() { return context_.commands; }
  DriverTimers& Timers() { return context_.timers; }
  ModemInfo& Modem() { return *modem_; }
  ListingState& Listing() { return listing_; }
  unsigned Instance() const { return context_.instance; }

  // Incoming messages processed since start.
  std::atomic<uint32_t> receivedCount{0};
  // Raised for each finally failed message while below 10, lowered for each
  // sent one while above 0.
  std::atomic<int> failureCount{0};
  void CountFailure(bool failed);
  // Set while the pause between two sends runs.
  std::atomic<bool> sendDelayPending{false};

  // ---- timer thread ----
  DriverTimers::HandlerResult OnTimer(uint32_t id);

 private:
  void Connect();
  void Disconnect();
  void OnPollTimer();
  void OnResetTimer();
  void OnReconnectTimer();
  void OnHousekeepingTimer();
  void SaveConfigurationQuietly();

  DriverContext context_;
  std::unique_ptr<ModemInfo> modem_;
  ListingState listing_;
  BlockingQueue<uint32_t> frameCommands_;

  mutable std::mutex outboxMutex_;  // taken before the outbox table's own lock
  std::deque<std::string> dispatchList_;
};

}  // namespace qm
