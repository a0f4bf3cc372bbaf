#include "gateway/modem_session.h"

#include <algorithm>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/driver_timers.h"
#include "gateway/memory_listing.h"
#include "gateway/outbox.h"
#include "gateway/user_notices.h"
#include "modem/async_serial_comm.h"
#include "modem/link_texts.h"
#include "modem/modem_info.h"
#include "modem/modem_sender.h"
#include "platform/utf.h"

namespace qm {

ModemSession::ModemSession(const GatewayContext& context, ModemInfo& modem, MemoryListing& listing, Outbox& outbox)
    : context_(context), modem_(modem), listing_(listing), outbox_(outbox) {}

void ModemSession::Connect(RequestCompletion done) {
  ConfigStore& config = context_.config;
  Logger& log = context_.log;
  AsyncSerialComm& transport = context_.transport;
  log.Write(LogLevel::kDetail, "Version " QM_VERSION);

  const std::string port = config.GetString("modem.port");
  connecting_ = false;
  EnterConfiguring();
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
    const SysError error = transport.LastError();
    const std::string text = PortErrorText(error, port);
    context_.notices.ShowBalloon("Error", "Serial port: " + text);
    log.Write(LogLevel::kPortFailure, "Serial port: " + text);
    context_.notices.ShowLinkSituation("(error)");
    LeaveConfiguring();
    done.Fail(error.code, text);
    return;
  }

  modem_.Reset(config.GetInt("modem.use_features") != 0, static_cast<uint32_t>(config.GetInt("modem.checks")));
  connecting_ = true;
  context_.notices.ShowLinkSituation("(connecting to " + port + "...)");
  if (modem_.ProcessEvent(AsyncEvent{EventKind::kOk, 0, {}, {}})) OnInitialised();
  done.Succeed();
}

void ModemSession::Disconnect(RequestCompletion done) {
  context_.timers.Cancel(TIMER_RESET);
  context_.timers.Cancel(TIMER_RECONNECT);
  context_.timers.Cancel(TIMER_RESET_RECONNECT);
  connecting_ = false;  // replies still on their way belong to nothing now
  listing_.Abandon();
  context_.sender.AbortCommand();
  const bool closed = context_.transport.Close();
  context_.notices.ShowLinkSituation(closed ? "(disconnected)" : "(error)");
  done.Succeed();
}

void ModemSession::OnModemEvent(const AsyncEvent& event, bool success) {
  if (connecting_) {
    if (modem_.ProcessEvent(event)) OnInitialised();
    return;
  }
  if (!modem_.IsReady()) return;  // a late reply of a connection given up
  if (listing_.Running()) {
    listing_.OnReply(event, success);
  } else if (StartsWithIgnoreCase(event.text, "+CUSD:")) {
    OnUssdReply(event);
  }
}

void ModemSession::OnInitialised() {
  connecting_ = false;
  const ConfigStore& config = context_.config;
  const std::string port = config.GetString("modem.port");
  context_.notices.ShowLinkSituation("(connected to " + port + ")");
  LeaveConfiguring();
  context_.log.Write(LogLevel::kDetail, "Modem ready: model '" + modem_.Model() + "', signal " +
                                            std::to_string(modem_.SignalStrength()) + "%");

  DriverTimers& timers = context_.timers;
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
  if (!modem_.Problems()) {
    context_.notices.ShowBalloon("Connected", "Quillmoor GSM Modem Driver is connected to " + port);
  }
  outbox_.DispatchNext();
}

void ModemSession::OnUssdReply(const AsyncEvent& event) {
  // Decoding the reply and handing it to waiting requests belong to the USSD
  // support, which is not part of this build: the reply is shown as it came.
  context_.log.Write(LogLevel::kDetail, "Got reply to USSD command: " + event.text);
  context_.notices.ShowBalloon("Got reply to USSD command", event.text);
}

void ModemSession::ResetModem() {
  const ConfigStore& config = context_.config;
  EnterConfiguring();
  for (int i = 0;; ++i) {
    const std::string command = config.GetFormatted("modem.reset.cmd.%d", i);
    if (command.empty()) break;
    context_.sender.Push(std::make_unique<ATCommandMessage>(command + "\r\n"));
  }
  LeaveConfiguring();
  if (config.GetInt("modem.reset.reconnect") == 0) return;
  // The pause lets the reset commands run before the port is closed; it is a
  // timer, so that nothing waits meanwhile.
  const int sleepMs = config.GetInt("modem.reset.sleep");
  if (sleepMs > 0) {
    context_.timers.Schedule(TIMER_RESET_RECONNECT, TimerIntervalMs(sleepMs, 1), true);
  } else {
    Reconnect();
  }
}

void ModemSession::CheckConnection() {
  if (context_.transport.GetStatus() != LinkStatus::kError) return;
  context_.log.Write(LogLevel::kDetail, "Connection lost, trying to reconnect the modem");
  Reconnect();
}

void ModemSession::Reconnect() {
  context_.commands.Push(DriverCommand(CMD_DISCONNECT));
  context_.commands.Push(DriverCommand(CMD_CONNECT));
}

void ModemSession::EnterConfiguring() {
  const ConfigStore& config = context_.config;
  context_.transport.SetStatus(LinkStatus::kConfiguring);
  outbox_.ReturnQueuedMessages();
  listing_.Abandon();
  const int connectTimeout = config.GetInt("sender.timeout.connect");
  const int timeout = connectTimeout != 0 ? connectTimeout : config.GetInt("sender.timeout");
  context_.transport.SetReplyTimeout(static_cast<uint32_t>(std::max(timeout, 0)));
}

void ModemSession::LeaveConfiguring() {
  AsyncSerialComm& transport = context_.transport;
  transport.Purge();
  if (transport.GetStatus() != LinkStatus::kError) transport.SetStatus(LinkStatus::kReady);
  transport.SetReplyTimeout(static_cast<uint32_t>(std::max(context_.config.GetInt("sender.timeout"), 0)));
}

}  // namespace qm
