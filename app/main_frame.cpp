#include "app/main_frame.h"

#include <unistd.h>

#include <algorithm>

#include "app/config_locations.h"
#include "base/config_store.h"
#include "app/instance_names.h"
#include "base/logger.h"
#include "app/notifier.h"
#include "app/status_file.h"
#include "modem/async_serial_comm.h"
#include "modem/modem_sender.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"

namespace qm {

CMainFrame::CMainFrame(DriverContext context) : context_(context) {
  {
    std::lock_guard lock(outboxMutex_);
    for (const Row& row : context_.tables.outbox->SelectNotEqual(kRowIdColumn, "", 0)) {
      dispatchList_.push_back(row[kRowIdColumn]);
    }
  }
  modem_ = std::make_unique<ModemInfo>(
      context_.config, context_.sender.Queue(),
      [this](const std::string& title, const std::string& text) { ShowBalloon(title, text); });
  context_.timers.Schedule(TIMER_HOUSEKEEPING, 1000, false);
  const int polling = context_.config.GetInt("receiver.polling_time");
  if (polling > 0) SetPollingTimer(polling);
  SetStatusTimer(context_.config.GetInt("status.time"));
  SetTooltip(Title("(disconnected)"));
}

CMainFrame::~CMainFrame() = default;

std::string CMainFrame::Title(std::string_view situation) const {
  std::string title(kProductTitle);
  title += TitleSuffix(context_.instance);
  title += ' ';
  title += situation;
  return title;
}

void CMainFrame::PostCommand(uint32_t command) { frameCommands_.Push(command); }

int CMainFrame::RunLoop() {
  for (;;) {
    const auto command = frameCommands_.Pop();
    if (!command) continue;
    switch (*command) {
      case kFrameConnect:
        Connect();
        break;
      case kFrameDisconnect:
        Disconnect();
        break;
      case kFrameExit:
        return 0;
      default:
        // The control panel and the send dialogs have no Linux form; qmctl
        // and the automation interface take their place.
        context_.log.Write(LogLevel::kWarning, "Command " + std::to_string(*command) + " is not available without a desktop window");
        break;
    }
  }
}

void CMainFrame::Connect() { context_.commands.Push(DriverCommand{CMD_CONNECT, 0, {}}); }

void CMainFrame::Disconnect() {
  context_.timers.Cancel(TIMER_RESET);
  context_.timers.Cancel(TIMER_RECONNECT);
  AbandonListing();
  context_.sender.AbortCommand();
  const bool closed = context_.transport.Close();
  SetTooltip(Title(closed ? "(disconnected)" : "(error)"));
}

void CMainFrame::SetTooltip(std::string_view text) { context_.notifier.SetTooltip(text); }

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

void CMainFrame::SaveConfigurationQuietly() { SaveConfiguration(context_.config, context_.locations); }

void CMainFrame::WriteStatusFile() {
  StatusSnapshot snapshot;
  snapshot.instance = context_.instance;
  snapshot.serviceProfile = context_.serviceProfile;
  snapshot.pid = ::getpid();
  snapshot.linkState = context_.transport.GetStatus();
  snapshot.outboxRows = static_cast<std::size_t>(context_.tables.outbox->Count());
  snapshot.failures = failureCount.load();
  snapshot.time = LocalNow();
  qm::WriteStatusFile(context_.config, snapshot, [this] { SaveConfigurationQuietly(); });
}

void CMainFrame::EnterConfiguring() {
  context_.transport.SetStatus(LinkStatus::kConfiguring);
  ReturnQueuedMessages();
  AbandonListing();
  const int connectTimeout = context_.config.GetInt("sender.timeout.connect");
  const int timeout = connectTimeout != 0 ? connectTimeout : context_.config.GetInt("sender.timeout");
  context_.transport.SetReplyTimeout(static_cast<uint32_t>(std::max(timeout, 0)));
}

void CMainFrame::LeaveConfiguring() {
  context_.transport.Purge();
  if (context_.transport.GetStatus() != LinkStatus::kError) context_.transport.SetStatus(LinkStatus::kReady);
  context_.transport.SetReplyTimeout(static_cast<uint32_t>(std::max(context_.config.GetInt("sender.timeout"), 0)));
}

void CMainFrame::PostReadFailed() {
  context_.commands.Push(DriverCommand{CMD_READ_DONE, 0, std::string("Can't read modem memory")});
}

void CMainFrame::AbandonListing() {
  if (listing_.Get() != 0) PostReadFailed();
  listing_.Reset();
}

std::unique_ptr<ATCommandMessage> CMainFrame::BuildListingCommand(bool /*unreadOnly*/) const { return nullptr; }

bool CMainFrame::ListingCommandQueued() const {
  bool queued = false;
  context_.sender.Queue().ForEach([&](const std::unique_ptr<GenericMessage>& item) {
    if (const auto* at = dynamic_cast<const ATCommandMessage*>(item.get())) {
      queued = queued || at->Command().rfind("AT+CMGL=", 0) == 0;
    }
  });
  return queued;
}

void CMainFrame::DispatchNext() {
  // Sending from the outbox arrives with the sending pipeline; until then the
  // rows and the dispatch list wait untouched.
}

void CMainFrame::AddToOutbox(std::unique_ptr<SMSMessage> message) {
  if (!message) return;
  const std::string srcPrefix = context_.config.GetString("ton_src_prefix");
  if (!srcPrefix.empty() && message->to.compare(0, srcPrefix.size(), srcPrefix) == 0) {
    message->to = context_.config.GetString("ton_dst_prefix") + message->to.substr(srcPrefix.size());
  }
  const std::string& to = message->to;
  if (context_.config.GetInt("ton_warning") == 1 && (message->toTon == 1 || message->toTon == 2) &&
      to.size() > 2 && to[0] == '0' && to[1] != '0') {
    ShowBalloon("Warning", "Number '" + to +
                               "' is in national format. SMS may not be delivered. Country code using is recommended.");
  }
  ReturnToOutbox(*message, false);
}

bool CMainFrame::ReturnToOutbox(const SMSMessage& message, bool front) {
  FileDatabase& outbox = *context_.tables.outbox;
  std::lock_guard lock(outboxMutex_);
  Row row = MakeOutboxRow(message, outbox.NewId(), outbox.Separator());
  const std::string id = row[kRowIdColumn];
  outbox.Put(row);
  if (front) {
    dispatchList_.push_front(id);
  } else {
    dispatchList_.push_back(id);
  }
  if (outbox.Save() != 0) {
    context_.log.Write(LogLevel::kError, "Error saving the outbox: " + outbox.LastError().text);
    return false;
  }
  return true;
}

void CMainFrame::CountFailure(bool failed) {
  int count = failureCount.load();
  while (failed ? count < 10 : count > 0) {
    if (failureCount.compare_exchange_weak(count, failed ? count + 1 : count - 1)) break;
  }
}

void CMainFrame::ReturnQueuedMessages() {
  // Messages already taken from the outbox must not be lost.
  auto items = context_.sender.TakeAll();
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if (auto* message = dynamic_cast<SMSMessage*>(it->get())) ReturnToOutbox(*message, true);
  }
}

std::vector<std::string> CMainFrame::DispatchList() const {
  std::lock_guard lock(outboxMutex_);
  return {dispatchList_.begin(), dispatchList_.end()};
}

}  // namespace qm
