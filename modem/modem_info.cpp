#include "modem/modem_info.h"

#include "base/config_store.h"
#include "modem/read_mode.h"
#include "modem/reply_views.h"
#include "platform/utf.h"

namespace qm {
namespace {

bool IsError(const AsyncEvent& e) { return e.kind == EventKind::kError || e.kind == EventKind::kFailure; }

bool IsSimLoadingError(const AsyncEvent& e) {
  for (std::string_view text : kSimLoadingErrors) {
    if (e.text == text) return true;
  }
  return false;
}

const InitStep& StepOf(InitState state) { return kInitSteps[static_cast<std::size_t>(state)]; }

// "Not yet": the SIM is busy or still starting.
bool IsSimBusy(const AsyncEvent& e) {
  if (e.kind != EventKind::kFailure) return false;
  if (StartsWithIgnoreCase(e.bytes, "+CMS")) return e.code == 314;
  if (StartsWithIgnoreCase(e.bytes, "+CME")) {
    if (e.code == 14 || e.code == 515) return true;
    // A verbose report has no number.
    return EqualsIgnoreCase(e.text, "SIM busy") || EqualsIgnoreCase(e.text, "SIM not ready");
  }
  return false;
}

// A line of a probe's reply that is its own. The model and the serial
// number come bare, or after their command's name; a line like "+CREG: 1"
// or "^RSSI:17" is the modem's news, not the answer.
bool IsOwnReplyLine(const InitStep& step, const AsyncEvent& e) {
  if (!step.replyPrefix.empty()) return StartsWithIgnoreCase(e.text, step.replyPrefix);
  if (step.reply == ReplyHandling::kModel || step.reply == ReplyHandling::kSerialNumber) {
    if (StartsWithIgnoreCase(e.text, "+CGMM:") || StartsWithIgnoreCase(e.text, "+CGSN:")) return true;
    return !e.text.starts_with('+') && !e.text.starts_with('^');
  }
  return true;
}

}  // namespace

ModemInfo::ModemInfo(ConfigStore& config, ModemCommandQueue& commands, Notify notify)
    : config_(config), commands_(commands), notify_(std::move(notify)) {}

void ModemInfo::Reset(bool useFeatures, uint32_t checks) {
  state_ = InitState::kSendInit;
  customIndex_ = 0;
  simBusyRetries_ = 0;
  features_ = 0;
  failures_ = 0;
  failureCount_ = 0;
  checks_ = checks;
  useFeatures_ = useFeatures;
  signal_ = 0;
  problems_ = false;
  model_.clear();
  for (auto& memory : memories_) memory.clear();
}

bool ModemInfo::ProcessEvent(const AsyncEvent& event) {
  const bool wasReady = IsReady();
  if (IsSimBusy(event) && simBusyRetries_ < kSimBusyRetries && RetryStep()) return false;
  const AsyncEvent ok{EventKind::kOk, 0, "OK", "OK"};
  const AsyncEvent* reply = &event;
  while (HandleReply(StepOf(state_), *reply)) {
    state_ = NextState(StepOf(state_));
    simBusyRetries_ = 0;
    const InitStep& step = StepOf(state_);
    if ((checks_ & step.assumed.check) == 0) features_ |= step.assumed.features;
    // A step that sends nothing runs at once as if the modem had said OK.
    reply = &ok;
    if (step.skipCheck != 0 && (checks_ & step.skipCheck) == 0) continue;
    std::string command = BuildCommand(step);
    if (command.empty()) continue;
    commands_.Push(std::make_unique<ATCommandMessage>(std::move(command)));
    break;
  }
  if (IsReady() && !wasReady && failureCount_ > kTolerableFailures && notify_) {
    notify_(std::string(kTitleConnectionFailed), std::string(kTextConnectionFailed));
  }
  return IsReady();
}

bool ModemInfo::RetryStep() {
  std::string command = BuildCommand(StepOf(state_));
  if (command.empty()) return false;
  ++simBusyRetries_;
  commands_.Push(std::make_unique<ATCommandMessage>(std::move(command), std::chrono::milliseconds(kSimBusyPauseMs)));
  return true;
}

bool ModemInfo::HandleReply(const InitStep& step, const AsyncEvent& e) {
  // Only the end of a command's reply ends its step. A line before it (the
  // echo, a vendor's news, line noise) taken as the end would hand the OK
  // that follows to the next command, and every later reply to the wrong
  // probe.
  const bool line = e.kind == EventKind::kInfo;
  switch (step.reply) {
    case ReplyHandling::kNothingAwaited:
      return false;
    case ReplyHandling::kAnyReply:
    case ReplyHandling::kInitEcho:
      return !line;
    case ReplyHandling::kPinError:
    case ReplyHandling::kErrorReported:
      if (line) return false;
      if (IsError(e)) Report(step.text, &e, step.reply == ReplyHandling::kErrorReported);
      // Only a modem that says so tells a wrong PIN from one not needed.
      if (step.reply == ReplyHandling::kPinError && IsError(e) && EqualsIgnoreCase(e.text, "incorrect password")) {
        refusedPin_ = config_.GetString("modem.pin");
      }
      return true;
    case ReplyHandling::kNotifySetting:
      if (line) return false;
      if (IsError(e)) {
        Report(step.text, &e, true);
        NotificationsRefused();
      }
      return true;
    case ReplyHandling::kCapabilities:
    case ReplyHandling::kMemories:
    case ReplyHandling::kSerialNumber:
    case ReplyHandling::kModel:
    case ReplyHandling::kSignal:
      if (line) {
        if (IsOwnReplyLine(step, e)) ReadReplyLine(step, e);
        return false;
      }
      if (IsError(e) && !(step.tolerates == Tolerance::kSimLoading && IsSimLoadingError(e))) ProbeFailed(step, &e);
      return true;
  }
  return false;
}

void ModemInfo::ReadReplyLine(const InitStep& step, const AsyncEvent& e) {
  switch (step.reply) {
    case ReplyHandling::kCapabilities: {
      const ListReplyEvent list(e);
      if (list.parseFailed) {
        if (step.tolerates != Tolerance::kUnparsableLine) ProbeFailed(step, nullptr);
        return;
      }
      for (const FeatureRule& rule : kFeatureRules) {
        if (rule.state == step.state && list.Contains(rule.value, rule.group)) features_ |= rule.feature;
      }
      return;
    }
    case ReplyHandling::kMemories: {
      const StringReplyEvent reply(e);
      const std::vector<std::string> items =
          reply.parseFailed ? std::vector<std::string>() : SplitReplyItems(reply.text);
      if (items.size() >= 9) {
        memories_ = {items[0], items[3], items[6]};
      } else if (items.size() >= 6) {
        memories_ = {items[0], items[3], items[3]};  // a modem with two memories receives into the second
      } else {
        ProbeFailed(step, nullptr);
      }
      return;
    }
    case ReplyHandling::kModel: {
      std::string_view model = e.text;
      if (StartsWithIgnoreCase(model, "+CGMM:")) model.remove_prefix(6);
      model_ = std::string(TrimBlanks(model));
      return;
    }
    case ReplyHandling::kSignal: {
      const int rssi = ReadReplyNumber(StringReplyEvent(e).text);
      // 0..98 in steps of about 3 %; 99 means "not known".
      signal_ = static_cast<unsigned>(rssi) < 99u ? rssi * 3 : 0;
      return;
    }
    case ReplyHandling::kSerialNumber:  // not kept
    default:
      return;
  }
}

InitState ModemInfo::NextState(const InitStep& step) {
  switch (step.next.choice) {
    case NextChoice::kFixedState:
      break;
    case NextChoice::kPinOrCmeeSupport:
      if (config_.GetInt("modem.use_pin") == 0) return InitState::kAwaitCmeeSupport;
      if (!refusedPin_.empty() && config_.GetString("modem.pin") == refusedPin_) {
        if (notify_) notify_(std::string(kTitleProblems), std::string(kTextPinNotResent));
        return InitState::kAwaitCmeeSupport;
      }
      return InitState::kAwaitPin;
    case NextChoice::kSmscOrCustom:
      if (!SmscAddress().empty()) return InitState::kAwaitSmsc;
      [[fallthrough]];
    case NextChoice::kNextCustomOrReady:
      if (step.state == InitState::kAwaitCustom) ++customIndex_;  // that one is done
      return config_.GetFormatted("modem.custom_init.%d", customIndex_).empty() ? InitState::kReady
                                                                                : InitState::kAwaitCustom;
  }
  return step.next.state;
}

std::string ModemInfo::BuildCommand(const InitStep& step) {
  switch (step.command.builder) {
    case CommandBuilder::kFixed:
      return std::string(step.command.text);
    case CommandBuilder::kInitString:
      return config_.GetString("modem.init") + "\r\n";
    case CommandBuilder::kPinCode:
      return "AT+CPIN=" + config_.GetString("modem.pin") + "\r\n";
    case CommandBuilder::kNumericErrors:
      // A modem that said it cannot give numeric errors is not asked to.
      if (useFeatures_ && (failures_ & kFailureCmee) == 0 && (features_ & kFeatureCmee1) == 0) return {};
      return "AT+CMEE=1\r\n";
    case CommandBuilder::kNotification:
      if (useFeatures_) ChooseReadMode();
      return NotificationCommand();
    case CommandBuilder::kSendMode:
      return SendModeCommand();
    case CommandBuilder::kSmsc:
      return "AT+CSCA=\"" + SmscAddress() + "\"\r\n";
    case CommandBuilder::kCustom:
      return config_.GetFormatted("modem.custom_init.%d", customIndex_) + "\r\n";
  }
  return {};
}

void ModemInfo::ChooseReadMode() {
  ReadMode mode = ReadMode::kIgnore;
  if (failures_ & kFailureCnmi) {
    mode = ReadMode::kIgnore;
  } else if (features_ & kFeatureNotifyIndex) {
    mode = ReadMode::kNotifyIndex;
  } else if (features_ & kFeatureNotifyContent) {
    mode = ReadMode::kNotifyContent;
  } else if ((failures_ & kFailureCmgd) == 0 && (features_ & kDeleteFeatures) != 0) {
    mode = ReadMode::kPolling;
  }
  StoreReadMode(config_, mode);
}

void ModemInfo::NotificationsRefused() {
  // No message will ever be announced: read the memory by polling where the
  // modem can delete what it has read, else leave incoming messages alone.
  const ReadMode mode = ConfiguredReadMode(config_);
  if (mode != ReadMode::kNotifyIndex && mode != ReadMode::kNotifyContent) return;
  const bool canPoll = (failures_ & kFailureCmgd) == 0 && (features_ & kDeleteFeatures) != 0;
  StoreReadMode(config_, canPoll ? ReadMode::kPolling : ReadMode::kIgnore);
}

std::string ModemInfo::NotificationCommand() const {
  // The routing mode the modem offers: 2 (buffer while the link is busy),
  // else 3, else 1.
  const char* routing = (features_ & kFeatureCnmiMode2)   ? "2"
                        : (features_ & kFeatureCnmiMode3) ? "3"
                        : (features_ & kFeatureCnmiMode1) ? "1"
                                                          : "2";
  std::string command = std::string("AT+CNMI=") + routing;
  switch (ConfiguredReadMode(config_)) {
    case ReadMode::kNotifyIndex: command += ",1"; break;
    case ReadMode::kNotifyContent: command += ",2"; break;
    default: command += ",0"; break;
  }
  // The buffered-message, status-report and buffer parameters, only when the
  // modem supports a value for each of them.
  const uint32_t f = features_;
  const char* bm = (f & kFeatureBm0) ? ",0" : (f & kFeatureBm1) ? ",1" : (f & kFeatureBm2) ? ",2" : nullptr;
  const char* ds = (f & kFeatureDs1) ? ",1" : (f & kFeatureDs2) ? ",2" : nullptr;
  const char* bfr = (f & kFeatureBfr0) ? ",0" : (f & kFeatureBfr1) ? ",1" : nullptr;
  if (bm && ds && bfr) command = command + bm + ds + bfr;
  return command + "\r\n";
}

std::string ModemInfo::SendModeCommand() {
  if (useFeatures_ && (failures_ & kFailureCmgf) == 0) {
    const bool textOnly = (features_ & kFeatureTextMode) != 0 && (features_ & kFeaturePduMode) == 0;
    config_.SetInt("sender.send_mode", textOnly ? 1 : 0);
  }
  switch (config_.GetInt("sender.send_mode")) {
    case 0: return "AT+CMGF=0\r\n";
    case 1: return "AT+CMGF=1\r\n";
    default: return {};
  }
}

// Text after a '/' is the user's comment. A value that is only a comment
// sets nothing: an empty address would wipe the SIM's own.
std::string ModemInfo::SmscAddress() const {
  const std::string smsc = config_.GetString("smsc.address");
  return smsc.substr(0, smsc.find('/'));
}

void ModemInfo::Report(std::string_view text, const AsyncEvent* event, bool problem) {
  if (problem) problems_ = true;
  if (!notify_) return;
  std::string body(text);
  body += event ? event->text : std::string(kTextInvalidReply);
  body += ". ";
  notify_(std::string(kTitleProblems), body);
}

void ModemInfo::ProbeFailed(const InitStep& step, const AsyncEvent* event) {
  failures_ |= step.failure;
  ++failureCount_;
  Report(step.text, event, true);
}

std::string ModemInfo::Memory(int index) const {
  if (index < 0 || index > 2) return {};
  return memories_[static_cast<std::size_t>(index)];
}

void ModemInfo::SetMemory(int index, std::string name) {
  if (index < 0 || index > 2) return;
  memories_[static_cast<std::size_t>(index)] = std::move(name);
}

std::unique_ptr<ATCommandMessage> ModemInfo::MakeSelectMemoryCommand() const {
  if (memories_[0].empty()) return nullptr;
  std::string command = "AT+CPMS=";
  for (std::size_t i = 0; i < memories_.size() && !memories_[i].empty(); ++i) {
    if (i > 0) command += ",";
    command += "\"" + memories_[i] + "\"";
  }
  return std::make_unique<ATCommandMessage>(command + "\r\n");
}

}  // namespace qm
