#include "app/service_thread.h"

#include "base/config_store.h"
#include "base/logger.h"
#include "app/main_frame.h"
#include "modem/async_serial_comm.h"
#include "modem/link_texts.h"
#include "modem/memory_commands.h"
#include "modem/modem_sender.h"
#include "platform/utf.h"

namespace qm {

CServiceThread::CServiceThread(CMainFrame& frame) : frame_(frame) {}

CServiceThread::~CServiceThread() { Stop(); }

void CServiceThread::Start() {
  Stop();
  thread_ = std::jthread([this](std::stop_token stop) { Loop(stop); });
}

void CServiceThread::SignalStop() {
  thread_.request_stop();
  frame_.Commands().Wake();
}

void CServiceThread::Stop() {
  if (!thread_.joinable()) return;
  SignalStop();
  thread_.join();
}

void CServiceThread::Loop(std::stop_token stop) {
  while (!stop.stop_requested()) {
    auto command = frame_.Commands().Pop();
    if (command) Execute(std::move(*command));
  }
}

void CServiceThread::Execute(DriverCommand command) {
  auto takeMessage = [&command]() -> std::unique_ptr<SMSMessage> {
    if (auto* p = std::get_if<std::unique_ptr<SMSMessage>>(&command.param)) return std::move(*p);
    return nullptr;
  };
  switch (command.code) {
    case CMD_INCOMING:
      if (auto message = takeMessage()) OnIncoming(std::move(message));
      break;
    case CMD_MODEM_EVENT:
      OnModemEvent(command);
      break;
    case CMD_SEND_RESULT:
      if (auto message = takeMessage()) OnSendResult(std::move(message), command.result != 0);
      break;
    case CMD_LISTED_MESSAGE:
      if (auto message = takeMessage()) OnListedMessage(std::move(message));
      break;
    case CMD_READ_DONE:
      // The automation memory reader that waits for this is not part of
      // this build; the text is freed with the command.
      break;
    case CMD_SOURCE_MESSAGE:
      if (auto message = takeMessage()) {
        frame_.AddToOutbox(std::move(message));
        frame_.DispatchNext();
      }
      break;
    case CMD_CONNECT:
      OnConnect();
      break;
    default:
      break;  // unknown codes are dropped with their payload
  }
}

void CServiceThread::OnConnect() {
  ConfigStore& config = frame_.Config();
  Logger& log = frame_.Log();
  AsyncSerialComm& transport = frame_.Transport();
  log.Write(LogLevel::kDetail, "Version " QM_VERSION);

  const std::string port = config.GetString("modem.port");
  connecting_ = false;
  frame_.EnterConfiguring();
  bool ok = transport.Open(port);
  if (ok && config.GetInt("modem.default") == 0) {
    ok = transport.Configure(static_cast<uint32_t>(config.GetInt("modem.baudrate")), config.GetInt("modem.parity"),
                             config.GetInt("modem.bytesize"), config.GetInt("modem.stopbits"),
                             config.GetInt("modem.fparity"));
    if (ok) log.Write(LogLevel::kDetail, "Serial port " + port + " configured");
  }
  if (ok) {
    auto ms = [&config](const char* key) { return static_cast<uint32_t>(std::max(config.GetInt(key), 0)); };
    ok = transport.SetTimeouts(ms("modem.timeout.wttm"), ms("modem.timeout.wtc"), ms("modem.timeout.rit"),
                               ms("modem.timeout.rttm"), ms("modem.timeout.rttc"));
    if (ok) log.Write(LogLevel::kDetail, "Serial port: timeouts set");
  }
  if (!ok) {
    const std::string text = PortErrorText(transport.LastError(), port);
    frame_.ShowBalloon("Error", "Serial port: " + text);
    log.Write(LogLevel::kPortFailure, "Serial port: " + text);
    frame_.SetTooltip(frame_.Title("(error)"));
    frame_.LeaveConfiguring();
    return;
  }

  ModemInfo& modem = frame_.Modem();
  modem.Reset(config.GetInt("modem.use_features") != 0, static_cast<uint32_t>(config.GetInt("modem.checks")));
  connecting_ = true;
  frame_.SetTooltip(frame_.Title("(connecting to " + port + "...)"));
  if (modem.ProcessEvent(AsyncEvent{EventKind::kOk, 0, {}, {}})) OnInitialised();
}

void CServiceThread::OnModemEvent(const DriverCommand& command) {
  const AsyncEvent* event = command.Event();
  if (event == nullptr) return;
  ModemInfo& modem = frame_.Modem();
  if (connecting_) {
    if (modem.ProcessEvent(*event)) OnInitialised();
    return;
  }
  if (!modem.IsReady()) return;  // a late reply of a connection given up
  if (frame_.Listing().Get() != 0) {
    OnListingEvent(*event, command.result != 0);
  } else if (StartsWithIgnoreCase(event->text, "+CUSD:")) {
    OnUssdReply(*event);
  }
}

void CServiceThread::OnInitialised() {
  connecting_ = false;
  ConfigStore& config = frame_.Config();
  ModemInfo& modem = frame_.Modem();
  const std::string port = config.GetString("modem.port");
  frame_.SetTooltip(frame_.Title("(connected to " + port + ")"));
  frame_.LeaveConfiguring();
  frame_.Log().Write(LogLevel::kDetail, "Modem ready: model '" + modem.Model() + "', signal " +
                            std::to_string(modem.SignalStrength()) + "%");

  DriverTimers& timers = frame_.Timers();
  const int reset = config.GetInt("modem.reset.time");
  if (reset > 0) {
    timers.Schedule(TIMER_RESET, TimerIntervalMs(reset, 1000), true);
  } else {
    timers.Cancel(TIMER_RESET);
  }
  const int reconnect = config.GetInt("modem.reconnect.time");
  if (reconnect > 0) {
    timers.Schedule(TIMER_RECONNECT, TimerIntervalMs(reconnect, 1000), false);
  } else {
    timers.Cancel(TIMER_RECONNECT);
  }
  if (!modem.Problems()) {
    frame_.ShowBalloon("Connected", "Quillmoor GSM Modem Driver is connected to " + port);
  }
  frame_.DispatchNext();
}

void CServiceThread::OnListingEvent(const AsyncEvent& event, bool success) {
  ConfigStore& config = frame_.Config();
  ListingState& listing = frame_.Listing();
  const int state = listing.Get();
  if (event.kind == EventKind::kError || event.kind == EventKind::kFailure) {
    frame_.ShowBalloon("Error", "Serial port: " + event.text);
    if ((state & 8) != 0 && config.GetInt("sender.delete_mode") == 2) {
      frame_.Sender().Push(DeleteAllCommand(config));
    } else {
      frame_.PostReadFailed();
    }
    listing.Set(0);
    return;
  }
  if (!success || event.kind != EventKind::kOk) return;
  if ((state & 1) != 0) {
    listing.Set(state + 1);
  } else if ((state & 2) != 0) {
    listing.Set(state + 2);
    auto command = frame_.BuildListingCommand((state & 8) != 0);
    if (!command) {
      frame_.PostReadFailed();
      listing.Set(0);
    } else if (frame_.ListingCommandQueued()) {
      frame_.Log().Write(LogLevel::kWarning, "CMGL command is already queued, new command cancelled");
      listing.Set(0);
    } else {
      frame_.Sender().Push(std::move(command));
    }
  } else if (state == 4) {
    frame_.Commands().Push(DriverCommand{CMD_READ_DONE, 0, {}});
    listing.Set(0);
  } else if (state == 12) {
    if (config.GetInt("sender.delete_mode") == 2) frame_.Sender().Push(DeleteAllCommand(config));
    listing.Set(8);
    frame_.Timers().Schedule(TIMER_POLL_DONE, TimerIntervalMs(config.GetInt("receiver.polling_time"), 500), true);
  }
}

void CServiceThread::OnUssdReply(const AsyncEvent& event) {
  // Decoding the reply and handing it to waiting requests belong to the USSD
  // support, which is not part of this build: the reply is shown as it came.
  frame_.Log().Write(LogLevel::kDetail, "Got reply to USSD command: " + event.text);
  frame_.ShowBalloon("Got reply to USSD command", event.text);
}

}  // namespace qm
