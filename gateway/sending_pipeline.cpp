#include "gateway/sending_pipeline.h"

#include <algorithm>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/modem_capabilities.h"
#include "gateway/pdu_settings_reader.h"
#include "gateway/ussd_codec.h"
#include "modem/async_serial_comm.h"
#include "modem/memory_commands.h"
#include "modem/modem_sender.h"
#include "platform/utf.h"
#include "sms/gsm_alphabet.h"
#include "sms/hex.h"
#include "sms/pdu_encoder.h"
#include "sms/pdu_time.h"

namespace qm {
namespace {

constexpr uint32_t kDefaultSubmitTimeoutMs = 60000;
// One text-mode submission carries at most one message of 7-bit characters.
constexpr std::size_t kTextModeLimit = 160;

std::string UnexpectedReplyText(const AsyncEvent& event) {
  return "Serial port: unexpected reply! Type: " + std::to_string(static_cast<int>(event.kind)) +
         " Content: " + event.text;
}

// The number after "+CMGS:", "+CMGW:" or "+CMSS:", up to the first non-digit
// ("+CMGS: 12,\"time\"" gives 12); -1 for other lines.
int SubmissionNumber(std::string_view line) {
  if (!StartsWithIgnoreCase(line, "+CMGS:") && !StartsWithIgnoreCase(line, "+CMGW:") &&
      !StartsWithIgnoreCase(line, "+CMSS:")) {
    return -1;
  }
  std::string_view rest = TrimBlanks(line.substr(6));
  int value = 0;
  bool any = false;
  for (char c : rest) {
    if (c < '0' || c > '9') break;
    value = std::min(value * 10 + (c - '0'), 1'000'000);
    any = true;
  }
  return any ? value : -1;
}

// A text for a quoted command parameter must not end the quotes or the line.
bool SafeInQuotes(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return c == '"' || u < 0x20 || u == 0x7F;
  });
}

// The text-mode body in the GSM character set, when text mode can carry the
// message: 7-bit characters only, no escape pair (ESC ends the data state),
// no Ctrl-Z, one message long.
std::optional<std::string> TextModeBody(std::string_view body) {
  if (DetectCoding(body) != kCoding7Bit) return std::nullopt;
  std::string septets = ToGsmSeptets(body);
  if (septets.size() > kTextModeLimit) return std::nullopt;
  if (septets.find_first_of(std::string_view("\x1A\x1B", 2)) != std::string::npos) return std::nullopt;
  return septets;
}

// The modem answers each line break inside a text-mode body with a prompt.
int LineBreaks(std::string_view text) {
  int count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))) ++count;
  }
  return count;
}

// Ends the awaiting of a reply when a wait is over, so that the reader's
// time-out cannot fire into the next command.
class AwaitingScope {
 public:
  explicit AwaitingScope(AsyncSerialComm& transport) : transport_(transport) {}
  ~AwaitingScope() { transport_.SetAwaitingReply(false); }
  AwaitingScope(const AwaitingScope&) = delete;
  AwaitingScope& operator=(const AwaitingScope&) = delete;

 private:
  AsyncSerialComm& transport_;
};

// The fixed test payload: one 8-bit PDU of 140 octets.
SubmitPdus TestPayloadPdus(const SMSMessage& message, const PduSettings& settings) {
  SubmitHeaderFields fields;
  fields.destination = message.to;
  fields.typeOfNumber = message.toTon;
  fields.coding = kCoding8Bit;
  fields.validitySeconds = message.ValiditySeconds();
  fields.flash = (message.flags & kFlagFlash) != 0;
  fields.reportRequest = (message.flags & kFlagStatusReport) != 0;
  std::string payload;
  for (int i = 0; i < 140; ++i) payload.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
  SubmitPdu pdu;
  pdu.hex = EncodeSubmitHeader(fields, settings) + "8C" + BytesToHex(payload);
  pdu.tpduLength = static_cast<int>(pdu.hex.size() / 2) - SmscPartLength(settings);
  SubmitPdus out;
  out.pdus.push_back(std::move(pdu));
  return out;
}

}  // namespace

SendingPipeline::SendingPipeline(ConfigStore& config, Logger& log, ModemSender& sender, ModemEventSink& events,
                                 ModemCapabilities& capabilities)
    : config_(config), log_(log), sender_(sender), events_(events), capabilities_(capabilities) {}

uint32_t SendingPipeline::SubmitTimeoutMs() const {
  const int configured = config_.GetInt("sender.timeout.submit");
  return configured > 0 ? static_cast<uint32_t>(configured) : kDefaultSubmitTimeoutMs;
}

void SendingPipeline::Send(std::unique_ptr<SMSMessage> message, std::stop_token stop) {
  AsyncSerialComm& transport = sender_.Transport();
  transport.SetStatus(LinkStatus::kBusy);
  SendOutcome outcome = SendOutcome::kRefused;
  switch (message->Kind()) {
    case kKindSms:
    case kKindPush:
      outcome = config_.GetInt("sender.send_mode") == 1 ? SendText(*message, stop) : SendPdu(*message, stop);
      break;
    case kKindUssd:
      outcome = SendUssd(*message, stop);
      break;
    default:
      break;
  }
  transport.SetAwaitingReply(false);
  if (transport.GetStatus() == LinkStatus::kBusy) transport.SetStatus(LinkStatus::kReady);
  events_.SendFinished(std::move(message), outcome);
}

// ---- messages --------------------------------------------------------------

SendOutcome SendingPipeline::SendPdu(SMSMessage& message, std::stop_token stop) {
  const PduSettings settings = ReadPduSettings(config_);
  const SubmitPdus built =
      message.body == kTestPayloadTrigger ? TestPayloadPdus(message, settings) : BuildSubmitPdus(message, settings);
  if (!built.ok() || built.pdus.empty()) {
    Fail("Message " + std::to_string(message.id) + " can't be sent: " + built.error);
    return SendOutcome::kRefused;
  }
  message.segments = static_cast<uint32_t>(built.pdus.size());
  const bool useMemory = config_.GetInt("sender.use_memory") != 0;
  const int delay = config_.GetInt("sender.delay");
  log_.Write(LogLevel::kDetail, "Sending message " + std::to_string(message.id) + " to " + message.to);
  std::vector<int> numbers;
  for (std::size_t i = 0; i < built.pdus.size(); ++i) {
    const SubmitPdu& pdu = built.pdus[i];
    const Result result =
        Submit((useMemory ? "AT+CMGW=" : "AT+CMGS=") + std::to_string(pdu.tpduLength) + "\r\n", pdu.hex, 0, stop);
    if (result.step != Step::kDone) return Outcome(result, i > 0, message);
    message.reference = result.number;
    numbers.push_back(result.number);
    // The pause goes between segments, not after the last.
    if (i + 1 < built.pdus.size() && delay > 0 && !ModemSender::SleepFor(stop, std::chrono::milliseconds(delay))) {
      return Outcome(Result{Step::kStopped}, true, message);
    }
  }
  ++sentCount_;
  if (useMemory) {
    const Result stored = SendStored(message, numbers, stop);
    if (stored.step != Step::kDone) return Outcome(stored, true, message);
  }
  log_.Write(LogLevel::kDetail, "Message " + std::to_string(message.id) + " sent, reference " +
                                    std::to_string(message.reference));
  return SendOutcome::kSent;
}

SendOutcome SendingPipeline::SendText(SMSMessage& message, std::stop_token stop) {
  const std::optional<std::string> body = TextModeBody(message.body);
  // What text mode cannot carry (a header, a long or a UCS2 text) goes as a
  // PDU where the modem can.
  if ((message.Kind() == kKindPush || !body) && capabilities_.pduMode.load()) {
    Run("AT+CMGF=0\r\n", stop);
    const SendOutcome outcome = SendPdu(message, stop);
    Run("AT+CMGF=1\r\n", stop);
    return outcome;
  }
  if (message.Kind() == kKindPush) {
    log_.Write(LogLevel::kWarning, "WAP-Push message can't be sent in text mode, sending as text");
  }
  if (!body) {
    Fail("Message " + std::to_string(message.id) + " can't be sent in text mode");
    return SendOutcome::kRefused;
  }
  // The destination goes in quotes: a quote or a line end in it would end
  // the command and start another.
  if (!SafeInQuotes(message.to)) {
    Fail("Message " + std::to_string(message.id) + ": the destination can't be sent in text mode");
    return SendOutcome::kRefused;
  }
  const std::string destination = message.to.starts_with('+') ? message.to : "+" + message.to;
  const int typeOfAddress = (message.toTon << 4) | 0x81;

  // Text mode has no character set and no message parameters of its own:
  // set both for this message (its flash, report and validity included).
  Run("AT+CSCS=\"GSM\"\r\n", stop);
  const int firstOctet = 0x11 | ((message.flags & kFlagStatusReport) != 0 ? 0x20 : 0);
  const int dcs = (message.flags & kFlagFlash) != 0 ? 0x10 : 0;
  Run("AT+CSMP=" + std::to_string(firstOctet) + "," + std::to_string(EncodeValidity(message.ValiditySeconds())) +
          ",0," + std::to_string(dcs) + "\r\n",
      stop);

  const bool useMemory = config_.GetInt("sender.use_memory") != 0;
  log_.Write(LogLevel::kDetail, "Sending message " + std::to_string(message.id) + " to " + message.to);
  const Result result = Submit((useMemory ? "AT+CMGW=\"" : "AT+CMGS=\"") + destination + "\"," +
                                   std::to_string(typeOfAddress) + "\r\n",
                               *body, LineBreaks(*body), stop);
  if (result.step != Step::kDone) return Outcome(result, false, message);
  message.reference = result.number;
  ++sentCount_;
  if (useMemory) {
    const Result stored = SendStored(message, {result.number}, stop);
    if (stored.step != Step::kDone) return Outcome(stored, true, message);
  }
  log_.Write(LogLevel::kDetail, "Message " + std::to_string(message.id) + " sent, reference " +
                                    std::to_string(message.reference));
  return SendOutcome::kSent;
}

SendOutcome SendingPipeline::SendUssd(SMSMessage& message, std::stop_token stop) {
  if (!capabilities_.ussd.load()) {
    Fail("USSD request " + std::to_string(message.id) + " can't be sent: the modem has no USSD support");
    return SendOutcome::kRefused;
  }
  UssdRequestCoding coding = config_.GetInt("ussd.decode") == 5 ? UssdRequestCoding::kPacked : UssdRequestCoding::kText;
  if (coding == UssdRequestCoding::kText) {
    // A modem whose character set is UCS2 takes the request in it.
    std::vector<std::string> lines;
    if (Run("AT+CSCS?\r\n", stop, &lines).step == Step::kDone) {
      for (const std::string& line : lines) {
        if (AsciiLowerCopy(line).find("ucs2") != std::string::npos) coding = UssdRequestCoding::kUcs2;
      }
    }
  }
  const bool hidden = (message.flags & 8) != 0;
  std::optional<std::string> command = UssdRequestCommand(message.body, hidden, coding);
  if (!command) {
    Fail("USSD request " + std::to_string(message.id) + " can't be sent: its text holds characters the modem can't take");
    return SendOutcome::kRefused;
  }
  log_.Write(LogLevel::kDetail, "Sending USSD request " + std::to_string(message.id) + ": " + message.body);
  Result result = Run(*command, stop);
  if (result.step == Step::kFailed && coding == UssdRequestCoding::kText && result.last.kind == EventKind::kError &&
      EqualsIgnoreCase(TrimBlanks(result.last.text), "ERROR")) {
    // Some modems take USSD requests only as packed septets.
    if (auto packed = UssdRequestCommand(message.body, hidden, UssdRequestCoding::kPacked)) {
      coding = UssdRequestCoding::kPacked;
      result = Run(*packed, stop);
    }
  }
  capabilities_.ussdRequestPacked.store(coding == UssdRequestCoding::kPacked);
  if (result.step == Step::kDone) return SendOutcome::kSent;
  return Outcome(result, false, message);
}

SendOutcome SendingPipeline::Outcome(const Result& result, bool submitted, const SMSMessage& message) {
  if (result.step == Step::kStopped) {
    // Stopped at exit: the message stays in the outbox and goes at the next
    // start. Whether a submission under way reached the network is unknown.
    if (submitted) {
      log_.Write(LogLevel::kWarning, "Message " + std::to_string(message.id) +
                                         ": sending interrupted at exit, the network may have it already");
    }
    return SendOutcome::kReturned;
  }
  log_.Write(LogLevel::kDetail, "Message " + std::to_string(message.id) + " not sent: " + sender_.LastErrorText());
  return SendOutcome::kFailed;
}

// ---- the channel -----------------------------------------------------------

void SendingPipeline::Fail(const std::string& text) {
  sender_.SetLastErrorText(text);
  log_.Write(LogLevel::kError, text);
}

bool SendingPipeline::Write(const std::string& command, uint32_t timeoutMs) {
  AsyncSerialComm& transport = sender_.Transport();
  transport.SetAwaitingReply(true, timeoutMs);
  if (transport.WriteCommand(command)) return true;
  transport.SetAwaitingReply(false);
  const SysError error = transport.LastError();
  sender_.SetLastErrorText(error.text);
  log_.Write(LogLevel::kPortFailure, "Serial port: " + error.text);
  return false;
}

SendingPipeline::Result SendingPipeline::Submit(const std::string& command, const std::string& data,
                                                int expectedPrompts, std::stop_token stop) {
  const uint64_t since = sender_.BeginCommand(stop);
  if (stop.stop_requested()) return Result{Step::kStopped};
  if (!Write(command, 0)) return Result{Step::kFailed};
  Result prompt = WaitForPrompt(since, stop);
  if (prompt.step != Step::kDone) return prompt;
  AsyncSerialComm& transport = sender_.Transport();
  const uint64_t written = transport.EventSerial();
  transport.SetAwaitingReply(true, SubmitTimeoutMs());
  if (!transport.WriteTextData(data)) {
    transport.SetAwaitingReply(false);
    Fail("Serial port: " + transport.LastError().text);
    return Result{Step::kFailed};
  }
  return WaitForResult(written, expectedPrompts, stop);
}

SendingPipeline::Result SendingPipeline::SendStored(SMSMessage& message, const std::vector<int>& indexes,
                                                    std::stop_token stop) {
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    const uint64_t since = sender_.BeginCommand(stop);
    if (!Write("AT+CMSS=" + std::to_string(indexes[i]) + "\r\n", SubmitTimeoutMs())) return Result{Step::kFailed};
    const Result result = WaitForResult(since, 0, stop);
    if (result.step != Step::kDone) return result;
    if (i == 0) message.reference = result.number;
  }
  DeleteStored(indexes, stop);
  return Result{Step::kDone};
}

void SendingPipeline::DeleteStored(const std::vector<int>& indexes, std::stop_token stop) {
  // Errors of the deletions do not change the outcome.
  switch (ConfiguredDeleteMode(config_)) {
    case DeleteMode::kLast:
      for (int index : indexes) Run(DeleteByIndexCommand(index)->Command(), stop);
      break;
    case DeleteMode::kAll: {
      const int every = config_.GetInt("sender.delete_after");
      if (every > 0 && sentCount_ % static_cast<uint32_t>(every) == 0) Run(DeleteAllCommand(config_)->Command(), stop);
      break;
    }
    case DeleteMode::kNone:
      break;
  }
}

SendingPipeline::Result SendingPipeline::Run(const std::string& command, std::stop_token stop,
                                             std::vector<std::string>* lines) {
  const uint64_t since = sender_.BeginCommand(stop);
  if (!Write(command, 0)) return Result{Step::kFailed};
  AwaitingScope awaiting(sender_.Transport());
  for (;;) {
    std::optional<AsyncEvent> event = sender_.NextReply(stop, since);
    if (!event) return Result{Step::kStopped};
    switch (event->kind) {
      case EventKind::kInfo:
        if (lines) lines->push_back(event->text);
        break;
      case EventKind::kOk:
        return Result{Step::kDone, -1, std::move(*event)};
      case EventKind::kError:
      case EventKind::kFailure:
        log_.Write(LogLevel::kWarning, "Serial port: " + event->text);
        return Result{Step::kFailed, -1, std::move(*event)};
      case EventKind::kPrompt:
        log_.Write(LogLevel::kError, UnexpectedReplyText(*event));
        sender_.Transport().WriteCommand("\x1A");
        sender_.MarkOutOfStep();
        return Result{Step::kFailed, -1, std::move(*event)};
      case EventKind::kAbort:
        return Result{Step::kFailed, -1, std::move(*event)};
      default:
        break;
    }
  }
}

SendingPipeline::Result SendingPipeline::WaitForPrompt(uint64_t since, std::stop_token stop) {
  AwaitingScope awaiting(sender_.Transport());
  for (;;) {
    std::optional<AsyncEvent> event = sender_.NextReply(stop, since);
    if (!event) return Result{Step::kStopped};
    switch (event->kind) {
      case EventKind::kPrompt:
        log_.Write(LogLevel::kDetail, "Received: " + event->text);
        return Result{Step::kDone, -1, std::move(*event)};
      case EventKind::kError:
      case EventKind::kFailure:
        sender_.SetLastErrorText(event->text);
        log_.Write(LogLevel::kPortFailure, "Serial port: " + event->text);
        events_.ModemReply(*event, false);
        return Result{Step::kFailed, -1, std::move(*event)};
      case EventKind::kAbort:
        return Result{Step::kFailed, -1, std::move(*event)};
      case EventKind::kWriteDone:
        break;
      default:
        log_.Write(LogLevel::kError, UnexpectedReplyText(*event));
        break;
    }
  }
}

SendingPipeline::Result SendingPipeline::WaitForResult(uint64_t since, int expectedPrompts, std::stop_token stop) {
  AsyncSerialComm& transport = sender_.Transport();
  AwaitingScope awaiting(transport);
  int number = -1;
  for (;;) {
    std::optional<AsyncEvent> event = sender_.NextReply(stop, since);
    if (!event) return Result{Step::kStopped};
    switch (event->kind) {
      case EventKind::kInfo: {
        log_.Write(LogLevel::kDetail, "Received: " + event->text);
        const int returned = SubmissionNumber(event->text);
        if (returned >= 0) number = returned;
        events_.ModemReply(*event, true);
        break;
      }
      case EventKind::kOk:
        log_.Write(LogLevel::kDetail, "Serial port: OK");
        return Result{Step::kDone, number, std::move(*event)};
      case EventKind::kError:
      case EventKind::kFailure:
        sender_.SetLastErrorText(event->text);
        log_.Write(LogLevel::kPortFailure, "Serial port: " + event->text);
        if (transport.GetStatus() == LinkStatus::kBusy) transport.SetStatus(LinkStatus::kReady);
        return Result{Step::kFailed, number, std::move(*event)};
      case EventKind::kPrompt:
        // The modem prompts again after each line break of a text body.
        if (expectedPrompts > 0) {
          --expectedPrompts;
          break;
        }
        sender_.SetLastErrorText(UnexpectedReplyText(*event));
        log_.Write(LogLevel::kError, UnexpectedReplyText(*event));
        transport.WriteCommand("\x1A");
        sender_.MarkOutOfStep();
        return Result{Step::kFailed, number, std::move(*event)};
      case EventKind::kAbort:
        return Result{Step::kFailed, number, std::move(*event)};
      case EventKind::kWriteDone:
        break;
      default:
        log_.Write(LogLevel::kError, UnexpectedReplyText(*event));
        break;
    }
  }
}

}  // namespace qm
