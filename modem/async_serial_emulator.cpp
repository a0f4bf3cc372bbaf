#include "modem/async_serial_emulator.h"

#include <memory>

#include "base/config_store.h"
#include "base/logger.h"
#include "modem/emulator_replies.h"
#include "platform/utf.h"
#include "sms/hex.h"
#include "sms/pdu_decoder.h"

namespace qm {

AsyncSerialEmulator::AsyncSerialEmulator(const ConfigStore& config, Logger& log, ModemEventSink& events,
                                         EmulatorDelays delays)
    : AsyncSerialComm(config, log), events_(events), delays_(delays) {}

AsyncSerialEmulator::~AsyncSerialEmulator() {
  // The thread uses this object's members: it must end before they go.
  KillReader();
}

void AsyncSerialEmulator::StartReader() {
  LaunchReader([this](std::stop_token stop) { Run(stop); });
}

bool AsyncSerialEmulator::Open(const std::string&) {
  ++session_;
  EndCommandInFlight();
  ClearLastError();
  Purge();
  written_.Clear();  // as a real port's purge drops what was written before
  SignalOpen();
  return true;
}

bool AsyncSerialEmulator::Close() {
  ++session_;
  ResetOpenEvent();
  EndCommandInFlight();
  SetStatus(LinkStatus::kDisconnected);
  return true;
}

bool AsyncSerialEmulator::Configure(uint32_t, int, int, int, int) { return true; }

bool AsyncSerialEmulator::SetTimeouts(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) { return true; }

bool AsyncSerialEmulator::WriteCommand(std::string_view bytes) {
  LogSent(bytes, true);
  ClearLastError();
  written_.Push(std::string(bytes));
  PushEvent(ListenerSlot::kWriteDone, AsyncEvent{EventKind::kWriteDone, 0, {}, {}});
  return true;
}

bool AsyncSerialEmulator::WriteHexData(std::string_view bytes) { return WriteTextData(BytesToHex(bytes, HexCase::kLower)); }

bool AsyncSerialEmulator::WriteTextData(std::string_view bytes) {
  LogSent(bytes, false);
  std::string data(bytes);
  data.push_back('\x1A');
  written_.Push(std::move(data));
  PushEvent(ListenerSlot::kWriteDone, AsyncEvent{EventKind::kWriteDone, 0, {}, std::string(bytes)});
  return true;
}

void AsyncSerialEmulator::Run(std::stop_token stop) {
  std::stop_callback wake(stop, [this] { written_.Wake(); });
  while (WaitUsable(stop, LinkStatus::kDisconnected)) {
    // A command whose final result never came (a reply the parser read as
    // something else) times out as on a real port, so the sending worker
    // never waits for ever.
    const int awaited = AwaitedReplyTimeout();
    std::optional<std::string> written =
        awaited < 0 ? written_.Pop() : written_.PopFor(std::chrono::milliseconds(awaited));
    if (!written) {
      if (awaited >= 0 && !stop.stop_requested()) EndAwaitedReply();
      continue;
    }
    if (!IsOpenSignalled() || GetStatus() == LinkStatus::kDisconnected) continue;  // closed: nobody answers
    const uint64_t session = session_.load();
    if (!SleepFor(stop, delays_.reply)) break;
    const EmulatorRule& rule = ChooseEmulatorRule(*written, config_.GetString("modem.init"));
    std::string reply(rule.reply);
    if (rule.action != EmulatorAction::kReply && !SleepFor(stop, delays_.network)) break;
    if (rule.action == EmulatorAction::kSubmitted) {
      reply = "+CMGS: " + std::to_string(reference_.fetch_add(1)) + "\r\nOK\r\n";
    }
    if (session != session_.load()) continue;  // closed or reopened meanwhile
    ClearLastError();
    FeedReceived(reply);
    // The message "arrives" once the submission has been answered.
    if (rule.action == EmulatorAction::kSubmitted) InjectIncoming(*written);
  }
}

void AsyncSerialEmulator::InjectIncoming(std::string_view writtenHex) {
  if (!writtenHex.empty() && writtenHex.back() == '\x1A') writtenHex.remove_suffix(1);
  const std::optional<DecodedPdu> pdu = DecodeSubmitPdu(HexToBytes(writtenHex));
  if (!pdu) return;
  // "SEND <number> <text>": the number starts at the sixth character.
  const std::u16string text = Utf8ToUtf16(pdu->text);
  if (text.size() < 6 || text.compare(0, 4, u"SEND") != 0) return;
  const std::u16string rest = text.substr(5);
  const std::size_t blank = rest.find(u' ');
  if (blank == std::u16string::npos) return;
  auto message = std::make_unique<SMSMessage>(Utf16ToUtf8(rest.substr(0, blank)), std::string(),
                                              Utf16ToUtf8(rest.substr(blank + 1)));
  events_.MessageReceived(std::move(message));
}

}  // namespace qm
