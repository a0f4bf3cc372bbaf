#include "modem/modem_info.h"

#include "base/config_store.h"
#include "modem/reply_views.h"
#include "platform/utf.h"

namespace qm {
namespace {

bool IsReplyLine(const AsyncEvent& e) { return e.kind == EventKind::kInfo; }
bool IsError(const AsyncEvent& e) { return e.kind == EventKind::kError || e.kind == EventKind::kFailure; }

bool IsSimLoadingError(const AsyncEvent& e) {
  for (std::string_view text : kSimLoadingErrors) {
    if (e.text == text) return true;
  }
  return false;
}

const ListProbe* FindListProbe(InitState state) {
  for (const ListProbe& probe : kListProbes) {
    if (probe.state == state) return &probe;
  }
  return nullptr;
}

AsyncEvent OkEvent() { return AsyncEvent{EventKind::kOk, 0, "OK", "OK"}; }

}  // namespace

ModemInfo::ModemInfo(ConfigStore& config, ModemCommandQueue& commands, Notify notify)
    : config_(config), commands_(commands), notify_(std::move(notify)) {}

void ModemInfo::Reset(bool useFeatures, uint32_t checks) {
  state_.store(kInitSendInit);
  customIndex_.store(0);
  features_.store(0);
  failures_.store(0);
  failureCount_.store(0);
  checks_.store(checks);
  useFeatures_.store(useFeatures);
  signal_.store(0);
  problems_.store(false);
  std::lock_guard lock(textMutex_);
  model_.clear();
  for (auto& memory : memories_) memory.clear();
}

bool ModemInfo::ProcessEvent(const AsyncEvent& event) {
  const bool wasReady = IsReady();
  AsyncEvent current = event;
  for (;;) {
    const Step step = Handle(static_cast<InitState>(state_.load()), current);
    if (!step.advance) break;
    state_.store(step.next);
    features_.fetch_or(AssumedFor(step.next));
    if (IsSkipped(step.next)) {
      // The probe is not sent: its state runs at once as if it had said OK.
      current = OkEvent();
      continue;
    }
    if (!step.command.empty()) {
      commands_.Push(std::make_unique<ATCommandMessage>(step.command));
      break;
    }
    if (!step.continueNow) break;
    current = OkEvent();
  }
  if (IsReady() && !wasReady && failureCount_.load() > kTolerableFailures && notify_) {
    notify_(std::string(kTitleConnectionFailed), std::string(kTextConnectionFailed));
  }
  return IsReady();
}

// One handler per state; a reply line is a kind-7 event, anything else ends
// the command.
ModemInfo::Step ModemInfo::Handle(InitState state, const AsyncEvent& e) {
  switch (state) {
    case kInitSendInit:
      return Send(config_.GetString("modem.init") + "\r\n", kInitAwaitInit);

    case kInitAwaitInit:
      if (IsReplyLine(e) && e.text.starts_with(config_.GetString("modem.init"))) return Wait();  // the echo
      if (config_.GetInt("modem.use_pin") != 0) {
        return Send("AT+CPIN=" + config_.GetString("modem.pin") + "\r\n", kInitAwaitPin);
      }
      return Send("AT+CMEE=?\r\n", kInitAwaitCmeeSupport);

    case kInitAwaitPin:
      if (IsError(e)) Report(kTextPin, &e, false);  // reported, yet not a problem of the link
      return Send("AT+CMEE=?\r\n", kInitAwaitCmeeSupport);

    case kInitAwaitCmeeSupport:
      return HandleCmeeSupport(e);

    case kInitAwaitCmeeSet:
      if (IsError(e)) Report(kTextCmeeSet, &e, true);
      return Send("AT+CSMS=?\r\n", kInitAwaitCsms);

    case kInitAwaitCsms:
    case kInitAwaitCmgfSupport:
    case kInitAwaitCnmiSupport:
    case kInitAwaitCmgdSupport:
    case kInitAwaitCusdSupport:
      return HandleListProbe(*FindListProbe(state), e);

    case kInitAwaitCpms:
      return HandleMemories(e);

    case kInitAwaitGsn:
      if (IsReplyLine(e)) return Wait();  // the serial number is not kept
      if (IsError(e)) ProbeFailed(kFailureGsn, kTextModel, &e);
      return Send("AT+CGMM\r\n", kInitAwaitModel);

    case kInitAwaitModel:
      if (IsReplyLine(e)) {
        std::lock_guard lock(textMutex_);
        model_ = std::string(TrimBlanks(e.text));
        return Wait();
      }
      if (IsError(e)) ProbeFailed(kFailureModel, kTextModel, &e);
      return Send("AT+CSQ\r\n", kInitAwaitSignal);

    case kInitAwaitSignal:
      return HandleSignal(e);

    case kInitAwaitNotify:  // errors of the notification command are not reported
      return HandleSendMode();

    case kInitAwaitSendMode:
      if (IsError(e)) Report(kTextSendMode, &e, true);
      return SmscOrCustomInit();

    case kInitAwaitSmsc:
      if (IsError(e)) Report(kTextSmsc, &e, true);
      return CustomInit();

    case kInitAwaitCustom:  // errors of the user's own commands are not reported
      customIndex_.fetch_add(1);
      return CustomInit();

    case kInitReady:
      return Wait();
  }
  return Wait();
}

ModemInfo::Step ModemInfo::HandleCmeeSupport(const AsyncEvent& e) {
  if (IsReplyLine(e)) {
    bool parseFailed = false;
    SetFeaturesFromList(kInitAwaitCmeeSupport, e, &parseFailed);
    if (parseFailed) ProbeFailed(kFailureCmee, kTextCmeeSupport, nullptr);
    return Wait();
  }
  if (IsError(e)) ProbeFailed(kFailureCmee, kTextCmeeSupport, &e);
  // A modem that said it cannot give numeric errors is not asked to.
  if (useFeatures_.load() && (failures_.load() & kFailureCmee) == 0 && (features_.load() & kFeatureCmee1) == 0) {
    return Continue(kInitAwaitCmeeSet);
  }
  return Send("AT+CMEE=1\r\n", kInitAwaitCmeeSet);
}

ModemInfo::Step ModemInfo::HandleListProbe(const ListProbe& probe, const AsyncEvent& e) {
  if (IsReplyLine(e)) {
    bool parseFailed = false;
    SetFeaturesFromList(probe.state, e, &parseFailed);
    if (parseFailed && probe.reportsUnparsable) ProbeFailed(probe.failure, probe.failureText, nullptr);
    return Wait();
  }
  if (IsError(e) && !(probe.toleratesSimLoading && IsSimLoadingError(e))) {
    ProbeFailed(probe.failure, probe.failureText, &e);
  }
  return Send(std::string(probe.next), probe.nextState);
}

ModemInfo::Step ModemInfo::HandleMemories(const AsyncEvent& e) {
  if (IsReplyLine(e)) {
    const StringReplyEvent reply(e);
    const std::vector<std::string> items =
        reply.parseFailed ? std::vector<std::string>() : SplitReplyItems(reply.text);
    if (items.size() < 9) {
      ProbeFailed(kFailureCpms, kTextCpms, nullptr);
    } else {
      std::lock_guard lock(textMutex_);
      memories_ = {items[0], items[3], items[6]};
    }
    return Wait();
  }
  if (IsError(e) && !IsSimLoadingError(e)) ProbeFailed(kFailureCpms, kTextCpms, &e);
  return Send("AT+CUSD=?\r\n", kInitAwaitCusdSupport);
}

ModemInfo::Step ModemInfo::HandleSignal(const AsyncEvent& e) {
  if (IsReplyLine(e)) {
    const StringReplyEvent reply(e);
    const int rssi = ReadReplyNumber(reply.text);
    // 0..98 in steps of about 3 %; 99 means "not known".
    signal_.store(static_cast<unsigned>(rssi) < 99u ? rssi * 3 : 0);
    return Wait();
  }
  if (IsError(e)) ProbeFailed(kFailureSignal, kTextSignal, &e);
  if (useFeatures_.load()) ChooseReadMode();
  return Send(NotificationCommand(), kInitAwaitNotify);
}

ModemInfo::Step ModemInfo::HandleSendMode() {
  if (useFeatures_.load() && (failures_.load() & kFailureCmgf) == 0) {
    const uint32_t f = features_.load();
    const bool textOnly = (f & kFeatureTextMode) != 0 && (f & kFeaturePduMode) == 0;
    config_.SetInt("sender.send_mode", textOnly ? 1 : 0);
  }
  switch (config_.GetInt("sender.send_mode")) {
    case 0:
      return Send("AT+CMGF=0\r\n", kInitAwaitSendMode);
    case 1:
      return Send("AT+CMGF=1\r\n", kInitAwaitSendMode);
    default:
      return Continue(kInitAwaitSendMode);
  }
}

ModemInfo::Step ModemInfo::SmscOrCustomInit() {
  // Text after a '/' is the user's comment. A value that is only a comment
  // sets nothing: an empty address would wipe the SIM's own.
  const std::string smsc = config_.GetString("smsc.address");
  const std::string address = smsc.substr(0, smsc.find('/'));
  if (!address.empty()) return Send("AT+CSCA=\"" + address + "\"\r\n", kInitAwaitSmsc);
  return CustomInit();
}

ModemInfo::Step ModemInfo::CustomInit() {
  const std::string command = config_.GetFormatted("modem.custom_init.%d", customIndex_.load());
  if (command.empty()) return Finish();
  return Send(command + "\r\n", kInitAwaitCustom);
}

void ModemInfo::SetFeaturesFromList(InitState state, const AsyncEvent& event, bool* parseFailed) {
  const ListReplyEvent list(event);
  *parseFailed = list.parseFailed;
  if (list.parseFailed) return;
  for (const FeatureRule& rule : kFeatureRules) {
    if (rule.state == state && list.Contains(rule.value, rule.group)) features_.fetch_or(rule.feature);
  }
}

void ModemInfo::ChooseReadMode() {
  const uint32_t f = features_.load();
  const uint32_t failed = failures_.load();
  int mode = 3;  // ignore incoming messages
  if (failed & kFailureCnmi) {
    mode = 3;
  } else if (f & kFeatureNotifyIndex) {
    mode = 0;
  } else if (f & kFeatureNotifyContent) {
    mode = 1;
  } else if ((failed & kFailureCmgd) == 0 && (f & (kFeatureDeleteFlag0 | kFeatureDeleteFlag4)) != 0) {
    mode = 2;  // polling
  }
  config_.SetInt("sender.read_mode", mode);
}

std::string ModemInfo::NotificationCommand() const {
  std::string command = "AT+CNMI=2";
  switch (config_.GetInt("sender.read_mode")) {
    case 0: command += ",1"; break;
    case 1: command += ",2"; break;
    default: command += ",0"; break;
  }
  // The buffered-message, status-report and buffer parameters, only when the
  // modem supports a value for each of them.
  const uint32_t f = features_.load();
  const char* bm = (f & kFeatureBm0) ? ",0" : (f & kFeatureBm1) ? ",1" : (f & kFeatureBm2) ? ",2" : nullptr;
  const char* ds = (f & kFeatureDs1) ? ",1" : (f & kFeatureDs2) ? ",2" : nullptr;
  const char* bfr = (f & kFeatureBfr0) ? ",0" : (f & kFeatureBfr1) ? ",1" : nullptr;
  if (bm && ds && bfr) command = command + bm + ds + bfr;
  return command + "\r\n";
}

void ModemInfo::Report(std::string_view text, const AsyncEvent* event, bool problem) {
  if (problem) problems_.store(true);
  if (!notify_) return;
  std::string body(text);
  body += event ? event->text : std::string(kTextInvalidReply);
  body += ". ";
  notify_(std::string(kTitleProblems), body);
}

void ModemInfo::ProbeFailed(uint32_t failure, std::string_view text, const AsyncEvent* event) {
  failures_.fetch_or(failure);
  failureCount_.fetch_add(1);
  Report(text, event, true);
}

bool ModemInfo::IsSkipped(InitState state) const {
  for (const SkippableProbe& probe : kSkippableProbes) {
    if (probe.state == state) return (checks_.load() & probe.check) == 0;
  }
  return false;
}

uint32_t ModemInfo::AssumedFor(InitState state) const {
  uint32_t assumed = 0;
  for (const AssumedFeatures& rule : kAssumedFeatures) {
    if (rule.state == state && (checks_.load() & rule.check) == 0) assumed |= rule.features;
  }
  return assumed;
}

std::string ModemInfo::Model() const {
  std::lock_guard lock(textMutex_);
  return model_;
}

std::string ModemInfo::Memory(int index) const {
  if (index < 0 || index > 2) return {};
  std::lock_guard lock(textMutex_);
  return memories_[static_cast<std::size_t>(index)];
}

void ModemInfo::SetMemory(int index, std::string name) {
  if (index < 0 || index > 2) return;
  std::lock_guard lock(textMutex_);
  memories_[static_cast<std::size_t>(index)] = std::move(name);
}

std::unique_ptr<ATCommandMessage> ModemInfo::MakeSelectMemoryCommand() const {
  std::lock_guard lock(textMutex_);
  if (memories_[0].empty()) return nullptr;
  std::string command = "AT+CPMS=";
  for (std::size_t i = 0; i < memories_.size() && !memories_[i].empty(); ++i) {
    if (i > 0) command += ",";
    command += "\"" + memories_[i] + "\"";
  }
  return std::make_unique<ATCommandMessage>(command + "\r\n");
}

}  // namespace qm
