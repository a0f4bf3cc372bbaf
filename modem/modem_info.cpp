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

}  // namespace

ModemInfo::ModemInfo(ConfigStore& config, ModemCommandQueue& commands, Notify notify)
    : config_(config), commands_(commands), notify_(std::move(notify)) {}

void ModemInfo::Reset(bool useFeatures, uint32_t checks) {
  state_ = InitState::kSendInit;
  customIndex_ = 0;
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
  const AsyncEvent ok{EventKind::kOk, 0, "OK", "OK"};
  const AsyncEvent* reply = &event;
  while (HandleReply(StepOf(state_), *reply)) {
    state_ = NextState(StepOf(state_));
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

bool ModemInfo::HandleReply(const InitStep& step, const AsyncEvent& e) {
  const bool line = e.kind == EventKind::kInfo;
  switch (step.reply) {
    case ReplyHandling::kNothingAwaited:
      return false;
    case ReplyHandling::kAnyReply:
      return true;
    case ReplyHandling::kInitEcho:
      return !(line && e.text.starts_with(config_.GetString("modem.init")));
    case ReplyHandling::kPinError:
    case ReplyHandling::kErrorReported:
      if (IsError(e)) Report(step.text, &e, step.reply == ReplyHandling::kErrorReported);
      return true;
    case ReplyHandling::kCapabilities:
    case ReplyHandling::kMemories:
    case ReplyHandling::kSerialNumber:
    case ReplyHandling::kModel:
    case ReplyHandling::kSignal:
      if (line) {
        ReadReplyLine(step, e);
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
      if (items.size() < 9) {
        ProbeFailed(step, nullptr);
      } else {
        memories_ = {items[0], items[3], items[6]};
      }
      return;
    }
    case ReplyHandling::kModel:
      model_ = std::string(TrimBlanks(e.text));
      return;
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
      return config_.GetInt("modem.use_pin") != 0 ? InitState::kAwaitPin : InitState::kAwaitCmeeSupport;
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

std::string ModemInfo::NotificationCommand() const {
  std::string command = "AT+CNMI=2";
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
