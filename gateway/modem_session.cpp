#include "gateway/modem_session.h"

#include <algorithm>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/driver_counters.h"
#include "gateway/driver_timers.h"
#include "gateway/memory_listing.h"
#include "gateway/modem_capabilities.h"
#include "gateway/outbox.h"
#include "gateway/user_notices.h"
#include "gateway/ussd_codec.h"
#include "gateway/ussd_waiters.h"
#include "modem/async_serial_comm.h"
#include "modem/link_texts.h"
#include "modem/modem_info.h"
#include "modem/modem_sender.h"
#include "platform/utf.h"

namespace qm {

ModemSession::ModemSession(const GatewayContext& context, ModemInfo& modem, MemoryListing& listing, Outbox& outbox,
                           ModemCapabilities& capabilities, USSDSyncObserverQueue& ussdWaiters)
    : context_(context),
      modem_(modem),
      listing_(listing),
      outbox_(outbox),
      capabilities_(capabilities),
      ussdWaiters_(ussdWaiters) {}

void ModemSession::Connect(RequestCompletion done) {
  ConfigStore& config = context_.config;
  Logger& log = context_.log;
  AsyncSerialComm& transport = context_.transport;
  if (!outage_) log.Write(LogLevel::kDetail, "Version " QM_VERSION);
  // While "modem.reconnect.time" is set, a connection that fails now, or
  // later, is tried again at that period until the modem answers.
  KeepReconnecting();

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
    // Each try of an outage failing the same way is not news.
    if (!outage_ || text != lastFailure_) {
      context_.notices.ShowBalloon("Error", "Serial port: " + text);
      log.Write(LogLevel::kPortFailure, "Serial port: " + text);
    }
    lastFailure_ = text;
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

void ModemSession::Disconnect(bool reconnecting, RequestCompletion done) {
  context_.timers.Cancel(TIMER_RESET);
  context_.timers.Cancel(TIMER_RESET_RECONNECT);
  if (!reconnecting) {
    // The user's own disconnect: no more tries until the next connect.
    context_.timers.Cancel(TIMER_RECONNECT);
    outage_ = false;
  }
  connecting_ = false;  // replies still on their way belong to nothing now
  listing_.Abandon();
  context_.sender.AbortCommand();
  const bool closed = context_.transport.Close();
  // Between the tries of a reconnection the link stays "(error)".
  if (!reconnecting) context_.notices.ShowLinkSituation(closed ? "(disconnected)" : "(error)");
  done.Succeed();
}

void ModemSession::OnModemEvent(const AsyncEvent& event, bool success) {
  if (connecting_) {
    if (modem_.ProcessEvent(event)) OnInitialised();
    return;
  }
  if (!modem_.IsReady()) return;  // a late reply of a connection given up
  if (listing_.Running()) listing_.OnReply(event, success);
}

void ModemSession::OnUnsolicitedLine(const AsyncEvent& event) {
  // A USSD reply may come at any time: during a listing, or while the modem
  // is being set up again; it is never taken for a command's reply.
  if (StartsWithIgnoreCase(event.text, "+CUSD:")) OnUssdReply(event);
}

void ModemSession::OnInitialised() {
  connecting_ = false;
  // What the sending worker may ask of this modem.
  const uint32_t features = modem_.Features();
  const uint32_t failures = modem_.Failures();
  capabilities_.pduMode.store((failures & kFailureCmgf) != 0 || (features & kFeaturePduMode) != 0);
  capabilities_.textMode.store((failures & kFailureCmgf) != 0 || (features & kFeatureTextMode) != 0);
  capabilities_.ussd.store((failures & kFailureCusd) == 0);
  if (outage_) context_.log.Write(LogLevel::kDetail, "The modem is back");
  outage_ = false;
  lastFailure_.clear();
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
  KeepReconnecting();
  if (!modem_.Problems()) {
    context_.notices.ShowBalloon("Connected", "Quillmoor GSM Modem Driver is connected to " + port);
  }
  listing_.StartCatchUp();
  outbox_.DispatchNext();
}

void ModemSession::OnUssdReply(const AsyncEvent& event) {
  const std::optional<UssdReply> reply = ParseUssdReply(event.text);
  if (!reply) {
    context_.log.Write(LogLevel::kDetail, "USSD session ended without a reply: " + event.text);
    return;
  }
  const std::string text = DecodeUssdReply(reply->text, reply->dcs, context_.config.GetInt("ussd.decode"),
                                           capabilities_.ussdRequestPacked.load());
  context_.log.Write(LogLevel::kDetail, "Got reply to USSD command: " + text);
  context_.notices.ShowBalloon("Got reply to USSD command", text);
  // Every reply with a text answers the request: networks commonly end the
  // session (result 2) in the very line that carries the answer, and a
  // caller of SendSync should not wait out its time-out for it.
  ussdWaiters_.Deliver(text, true);
  if (ussdFollower_) ussdFollower_(text, static_cast<uint32_t>(reply->result), {});
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

void ModemSession::KeepReconnecting() {
  const int reconnect = context_.config.GetInt("modem.reconnect.time");
  if (reconnect > 0) {
    context_.timers.Schedule(TIMER_RECONNECT, TimerIntervalMs(reconnect, 1000), true);
  } else {
    context_.timers.Cancel(TIMER_RECONNECT);
  }
}

void ModemSession::CheckConnection() {
  if (context_.transport.GetStatus() != LinkStatus::kError) return;
  // Said once per outage, not once per try.
  if (!outage_) context_.log.Write(LogLevel::kDetail, "Connection lost, trying to reconnect the modem");
  outage_ = true;
  Reconnect();
}

void ModemSession::Reconnect() {
  context_.counters.reconnects += 1;
  context_.commands.Push(DriverCommand(CMD_DISCONNECT, kReconnecting));
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
  transport.ClearReplyQueues();
  if (transport.GetStatus() != LinkStatus::kError) transport.SetStatus(LinkStatus::kReady);
  transport.SetReplyTimeout(static_cast<uint32_t>(std::max(context_.config.GetInt("sender.timeout"), 0)));
}

}  // namespace qm
