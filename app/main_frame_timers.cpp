// The driver's timer handlers (timer thread, under the timer lock).
#include <thread>

#include "base/config_store.h"
#include "base/logger.h"
#include "app/main_frame.h"
#include "modem/async_serial_comm.h"
#include "modem/modem_sender.h"

namespace qm {

DriverTimers::HandlerResult CMainFrame::OnTimer(uint32_t id) {
  switch (id) {
    case TIMER_POLL:
      OnPollTimer();
      break;
    case TIMER_POLL_DONE:
      listing_.FinishPolling();
      return DriverTimers::HandlerResult::kRemove;
    case TIMER_RESET:
      OnResetTimer();
      break;
    case TIMER_RECONNECT:
      OnReconnectTimer();
      break;
    case TIMER_STATUS_FILE:
      WriteStatusFile();
      break;
    case TIMER_SEND_DELAY:
      sendDelayPending.store(false);
      DispatchNext();
      return DriverTimers::HandlerResult::kRemove;
    case TIMER_HOUSEKEEPING:
      OnHousekeepingTimer();
      break;
    default:
      break;
  }
  return DriverTimers::HandlerResult::kKeep;
}

void CMainFrame::OnPollTimer() {
  if (context_.config.GetInt("sender.read_mode") != 2) return;
  const LinkStatus status = context_.transport.GetStatus();
  if (status != LinkStatus::kReady && status != LinkStatus::kBusy) return;
  if (!listing_.TryStart(10)) return;
  auto listing = BuildListingCommand(true);
  if (!listing) {
    listing_.Set(0);
    PostReadFailed();
    return;
  }
  if (modem_->Memory(0) != context_.config.GetString("receiver.polling_memory")) {
    if (auto select = modem_->MakeSelectMemoryCommand()) {
      context_.sender.Push(std::move(select));
      listing_.Set(9);
    }
  }
  if (ListingCommandQueued()) {
    context_.log.Write(LogLevel::kWarning, "CMGL command is already queued, new command cancelled");
    listing_.Set(0);
    return;
  }
  context_.sender.Push(std::move(listing));
}

void CMainFrame::OnResetTimer() {
  EnterConfiguring();
  for (int i = 0;; ++i) {
    const std::string command = context_.config.GetFormatted("modem.reset.cmd.%d", i);
    if (command.empty()) break;
    context_.sender.Push(std::make_unique<ATCommandMessage>(command + "\r\n"));
  }
  LeaveConfiguring();
  if (context_.config.GetInt("modem.reset.reconnect") == 0) return;
  const int sleepMs = context_.config.GetInt("modem.reset.sleep");
  if (sleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
  PostCommand(kFrameDisconnect);
  PostCommand(kFrameConnect);
}

void CMainFrame::OnReconnectTimer() {
  if (context_.transport.GetStatus() != LinkStatus::kError) return;
  context_.log.Write(LogLevel::kDetail, "Connection lost, trying to reconnect the modem");
  PostCommand(kFrameDisconnect);
  PostCommand(kFrameConnect);
}

void CMainFrame::OnHousekeepingTimer() {
  context_.transport.CheckBusyTimeout();
  DispatchNext();
}

}  // namespace qm
