#include "app/main_frame.h"

#include <unistd.h>

#include "app/config_locations.h"
#include "app/instance_names.h"
#include "app/notifier.h"
#include "app/status_file.h"
#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/driver_counters.h"
#include "modem/async_serial_comm.h"
#include "storage/table_setup.h"

namespace qm {

CMainFrame::CMainFrame(FrameContext context) : context_(context) {
  context_.timers.Schedule(TIMER_HOUSEKEEPING, 1000, false);
  const int polling = context_.config.GetInt("receiver.polling_time");
  if (polling > 0) SetPollingTimer(polling);
  SetStatusTimer(context_.config.GetInt("status.time"));
  SetTooltip(Title("(disconnected)"));
}

std::string CMainFrame::Title(std::string_view situation) const {
  std::string title(kProductTitle);
  title += TitleSuffix(context_.instance);
  title += ' ';
  title += situation;
  return title;
}

void CMainFrame::PostCommand(uint32_t command) { frameCommands_.Push(command); }

void CMainFrame::PostToCommandThread(uint32_t code, int32_t result) {
  context_.commands.Push(DriverCommand(code, result));
}

int CMainFrame::RunLoop() {
  for (;;) {
    const auto command = frameCommands_.Pop();
    if (!command) continue;
    switch (*command) {
      case kFrameConnect:
        PostToCommandThread(CMD_CONNECT);
        break;
      case kFrameDisconnect:
        PostToCommandThread(CMD_DISCONNECT);
        break;
      case kFrameExit:
        return 0;
      default:
        // The control panel and the send dialogs have no Linux form; qmctl
        // and the automation interface take their place.
        context_.log.Write(LogLevel::kWarning,
                           "Command " + std::to_string(*command) + " is not available without a desktop window");
        break;
    }
  }
}

DriverTimers::HandlerResult CMainFrame::OnTimer(uint32_t id) {
  switch (id) {
    case TIMER_STATUS_FILE:
      WriteStatusFile();
      return DriverTimers::HandlerResult::kKeep;
    case TIMER_POLL:
    case TIMER_RESET:
    case TIMER_RECONNECT:
    case TIMER_HOUSEKEEPING:
      PostToCommandThread(CMD_TIMER, static_cast<int32_t>(id));
      return DriverTimers::HandlerResult::kKeep;
    case TIMER_POLL_DONE:
    case TIMER_SEND_DELAY:
    case TIMER_RESET_RECONNECT:
      PostToCommandThread(CMD_TIMER, static_cast<int32_t>(id));
      return DriverTimers::HandlerResult::kRemove;
    default:
      return DriverTimers::HandlerResult::kKeep;
  }
}

void CMainFrame::SetTooltip(std::string_view text) { context_.notifier.SetTooltip(text); }

void CMainFrame::ShowLinkSituation(std::string_view situation) { SetTooltip(Title(situation)); }

void CMainFrame::ShowBalloon(std::string_view title, std::string_view text) {
  context_.notifier.ShowBalloon(title, text);
}

void CMainFrame::SetPollingTimer(int seconds) {
  if (seconds <= 0) {
    context_.timers.Cancel(TIMER_POLL);
  } else {
    context_.timers.Schedule(TIMER_POLL, TimerIntervalMs(seconds, 1000), false);
  }
}

void CMainFrame::SetStatusTimer(int seconds) {
  if (seconds <= 0) {
    context_.timers.Cancel(TIMER_STATUS_FILE);
  } else {
    context_.timers.Schedule(TIMER_STATUS_FILE, TimerIntervalMs(seconds, 1000), false);
  }
}

void CMainFrame::WriteStatusFile() {
  StatusSnapshot snapshot;
  snapshot.instance = context_.instance;
  snapshot.serviceProfile = context_.serviceProfile;
  snapshot.pid = ::getpid();
  snapshot.linkState = context_.transport.GetStatus();
  snapshot.outboxRows = static_cast<std::size_t>(context_.tables.outbox->Count());
  snapshot.failures = context_.counters.Failures();
  snapshot.time = LocalNow();
  qm::WriteStatusFile(context_.config, snapshot,
                      [this] { SaveConfiguration(context_.config, context_.locations); });
}

}  // namespace qm
